#include "DumpUrl.h"

#include <cctype>

namespace zeltadump {

namespace {

constexpr const char* kEventStreamPath = "/control/eventstream.jpg";

// Undoes %XX escapes (a password may hold '@' or ':'); false for a broken escape.
bool percentDecode(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
      return false;
    out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  return true;
}

bool validPort(const std::string& port) {
  if (port.empty() || port.size() > 5) return false;
  for (char c : port)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  const int value = std::stoi(port);
  return value >= 1 && value <= 65535;
}

}  // namespace

CameraUrlParse parseCameraUrl(const std::string& text) {
  const size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string::npos) return {std::nullopt, "no scheme"};
  const std::string scheme = text.substr(0, schemeEnd);
  if (scheme == "https") return {std::nullopt, "https is not supported by the stream SDK"};
  if (scheme != "http") return {std::nullopt, "unknown scheme"};
  const std::string rest = text.substr(schemeEnd + 3);
  const size_t pathStart = rest.find_first_of("/?");
  const std::string authority = rest.substr(0, pathStart);
  std::string path = pathStart == std::string::npos ? "" : rest.substr(pathStart);
  if (path.empty() || path == "/") path = kEventStreamPath;
  if (path[0] == '?') path = kEventStreamPath + path;

  CameraUrl url;
  const size_t at = authority.rfind('@');
  std::string hostPort = authority;
  if (at != std::string::npos) {
    const std::string userInfo = authority.substr(0, at);
    hostPort = authority.substr(at + 1);
    const size_t colon = userInfo.find(':');
    if (colon == std::string::npos) return {std::nullopt, "user without password"};
    if (!percentDecode(userInfo.substr(0, colon), url.user) || !percentDecode(userInfo.substr(colon + 1), url.password))
      return {std::nullopt, "bad %-escape in the credentials"};
    if (url.user.empty()) return {std::nullopt, "empty user"};
  }
  const size_t colon = hostPort.rfind(':');
  const bool hasPort = colon != std::string::npos && hostPort.find(']', colon) == std::string::npos;
  const std::string host = hasPort ? hostPort.substr(0, colon) : hostPort;
  if (host.empty()) return {std::nullopt, "no host"};
  if (hasPort && !validPort(hostPort.substr(colon + 1))) return {std::nullopt, "bad port"};
  url.shown = "http://" + hostPort + "/";
  url.streamUrl = "http://" + hostPort + path;
  return {url, ""};
}

}  // namespace zeltadump
