// The HTTPS identity the simulator makes for itself at start: a fresh P-256 key and a
// self-signed certificate with CN=vantrel-camsim and the name "localhost", valid for a year.
// Nothing touches the disk.
#pragma once

#include <string>

#include <boost/asio/ssl/context.hpp>

namespace camsim {

struct Identity {
  std::string fingerprint;     // SHA-256, "AB:CD:..." as `openssl x509 -fingerprint -sha256` prints it
  std::string certificatePem;  // the certificate alone (no key), for clients to trust it
};

// Loads a new key and certificate into the context. Throws std::runtime_error on failure.
Identity useSelfSignedCertificate(boost::asio::ssl::context& context);

}  // namespace camsim
