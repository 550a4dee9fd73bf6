// The TLS settings of camera requests over HTTPS. Declarations only; implemented in libNuvlet.
#pragma once

#include <memory>
#include <string>

#include <boost/asio/ssl/context.hpp>

namespace Talvo {
namespace http {

// The TLS settings shared by all camera requests: TLS client, no certificate verification
// unless ORSEL_VANTREL_TLS_VERIFY=1 (cameras present self-signed certificates). Set up once,
// then only read: any thread.
std::shared_ptr<boost::asio::ssl::context> clientTlsSettings();
// True when ORSEL_VANTREL_TLS_VERIFY=1 asked for certificate and host name checks.
bool tlsVerificationEnabled();
// The SHA-256 fingerprint of the certificate the peer of `tls` presented, as 64 lower-case hex
// digits; "" when there is none.
std::string peerFingerprint(SSL* tls);
// "ab12..." as "AB:12:..." (the way `openssl x509 -fingerprint -sha256` prints it).
std::string fingerprintText(const std::string& digits);

}  // namespace http
}  // namespace Talvo
