// The HTTPS identity the simulator makes for itself at start: a fresh P-256 key and a
// self-signed certificate with CN=vantrel-camsim, valid for a year. Nothing touches the disk.
#pragma once

#include <string>

#include <boost/asio/ssl/context.hpp>

namespace camsim {

// Loads a new key and certificate into the context and returns the certificate's SHA-256
// fingerprint ("AB:CD:...", as `openssl x509 -fingerprint -sha256` prints it). Throws
// std::runtime_error on failure.
std::string useSelfSignedCertificate(boost::asio::ssl::context& context);

}  // namespace camsim
