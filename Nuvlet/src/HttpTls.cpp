// The TLS settings of camera requests.
#include "Nuvlet/include/HttpTls.h"

#include "HexText.h"

#include <cctype>
#include <cstdlib>

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
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

std::string peerFingerprint(ssl_st* tls) {
  X509* certificate = SSL_get1_peer_certificate(tls);
  if (certificate == nullptr) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  const bool done = X509_digest(certificate, EVP_sha256(), digest, &size) == 1;
  X509_free(certificate);
  return done ? text::lowerHex(digest, size) : std::string();
}

std::string fingerprintText(const std::string& digits) {
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && i % 2 == 0) text += ':';
    text += static_cast<char>(std::toupper(static_cast<unsigned char>(digits[i])));
  }
  return text;
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
