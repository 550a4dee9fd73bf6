// Basic authorisation of camera requests.
#include "host/Nuvlet/HttpAuthorization.h"

#include <cstdint>

namespace Talvo {
namespace http {

namespace {

std::string base64(const std::string& text) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((text.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < text.size(); i += 3) {
    const uint32_t v =
        (uint32_t(uint8_t(text[i])) << 16) | (uint32_t(uint8_t(text[i + 1])) << 8) | uint8_t(text[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < text.size()) {
    uint32_t v = uint32_t(uint8_t(text[i])) << 16;
    if (i + 1 < text.size()) v |= uint32_t(uint8_t(text[i + 1])) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < text.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace

Authorizer createDefaultAuthorizer() {
  return [](const asio::ConnectionInfo& info) -> std::string {
    if (info.user.empty()) return {};
    return "Basic " + base64(info.user + ":" + info.password);
  };
}

}  // namespace http
}  // namespace Talvo
