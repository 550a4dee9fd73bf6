// The TLS settings of camera requests.
#include "Nuvlet/include/HttpTls.h"

#include <cstdlib>
#include <cstring>

namespace Talvo {
namespace http {

bool tlsVerificationEnabled() {
  static const bool enabled = [] {
    const char* value = std::getenv("ORSEL_VANTREL_TLS_VERIFY");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }();
  return enabled;
}

std::shared_ptr<boost::asio::ssl::context> clientTlsSettings() {
  // One set of settings for all requests: set up once, then only read (OpenSSL allows that from any thread).
  static const std::shared_ptr<boost::asio::ssl::context> settings = [] {
    auto tls = std::make_shared<boost::asio::ssl::context>(boost::asio::ssl::context::tls_client);
    tls->set_options(boost::asio::ssl::context::default_workarounds | boost::asio::ssl::context::no_sslv2 |
                     boost::asio::ssl::context::no_sslv3);
    if (tlsVerificationEnabled()) {
      tls->set_default_verify_paths();
      tls->set_verify_mode(boost::asio::ssl::verify_peer);
    } else {
      // Cameras present self-signed certificates that nothing could verify.
      tls->set_verify_mode(boost::asio::ssl::verify_none);
    }
    return tls;
  }();
  return settings;
}

}  // namespace http
}  // namespace Talvo
