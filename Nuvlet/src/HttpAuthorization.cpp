// Basic authorisation of camera requests.
#include "host/Nuvlet/HttpAuthorization.h"

#include "host/Nuvlet/Base64.h"

namespace Talvo {
namespace http {

namespace {

std::string base64(const std::string& text) { return Utility::base64Encode(text); }

}  // namespace

Authorizer createDefaultAuthorizer() {
  return [](const asio::ConnectionInfo& info) -> std::string {
    if (info.user.empty()) return {};
    return "Basic " + base64(info.user + ":" + info.password);
  };
}

}  // namespace http
}  // namespace Talvo
