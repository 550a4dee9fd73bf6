// The authorisation camera requests carry. Declarations only; implemented in libNuvlet.
#pragma once

#include <functional>
#include <string>

#include "Connection.h"

namespace Talvo {
namespace http {

// "Authorization" header value for Basic authentication of `info`'s user ("" without user).
using Authorizer = std::function<std::string(const asio::ConnectionInfo& info)>;
Authorizer createDefaultAuthorizer();

}  // namespace http
}  // namespace Talvo
