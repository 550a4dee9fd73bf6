// The SHA-256 fingerprint of the certificate a TLS peer presented: what "?tls_fingerprint=" in a
// connection text pins, and what a host shows its user to pin. Declarations only; implemented in
// libNuvlet.
#pragma once

#include <string>

struct ssl_st;  // OpenSSL's SSL

namespace Talvo {
namespace http {

// 64 lower-case hex digits; "" when the peer presented no certificate.
std::string peerFingerprint(ssl_st* tls);
// "ab12..." as "AB:12:..." (the way `openssl x509 -fingerprint -sha256` prints it).
std::string fingerprintText(const std::string& digits);

}  // namespace http
}  // namespace Talvo
