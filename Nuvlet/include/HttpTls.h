// The TLS settings of camera requests over HTTPS. Declarations only; implemented in libNuvlet.
#pragma once

#include <memory>

#include <boost/asio/ssl/context.hpp>

#include "host/Nuvlet/TlsFingerprint.h"

namespace Talvo {
namespace http {

// The TLS settings shared by all camera requests: TLS client, no certificate verification
// unless ORSEL_VANTREL_TLS_VERIFY=1 (cameras present self-signed certificates). Set up once,
// then only read: any thread.
std::shared_ptr<boost::asio::ssl::context> clientTlsSettings();
// True when ORSEL_VANTREL_TLS_VERIFY=1 asked for certificate and host name checks.
bool tlsVerificationEnabled();

}  // namespace http
}  // namespace Talvo
