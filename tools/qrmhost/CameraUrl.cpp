#include "CameraUrl.h"

#include <algorithm>
#include <cctype>

namespace qrmhost {
namespace {

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool isAllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// True for "", or a port number from 1 to 65535.
bool isValidPort(const std::string& port) {
  if (port.empty()) return true;
  if (!isAllDigits(port) || port.size() > 5) return false;
  const int number = std::stoi(port);
  return number >= 1 && number <= 65535;
}

// Splits "host:port" or "[v6]:port" into its port ("" when none); false when malformed.
bool splitPort(const std::string& hostPort, std::string& host, std::string& port) {
  const bool bracketed = !hostPort.empty() && hostPort.front() == '[';
  const size_t hostEnd = bracketed ? hostPort.find(']') : hostPort.rfind(':');
  if (bracketed && hostEnd == std::string::npos) return false;
  const size_t colon = bracketed ? hostEnd + 1 : hostEnd;
  if (colon == std::string::npos || colon >= hostPort.size()) {
    host = hostPort;
    port.clear();
    return true;
  }
  if (hostPort[colon] != ':') return false;
  host = hostPort.substr(0, colon);
  port = hostPort.substr(colon + 1);
  return true;
}

}  // namespace

std::optional<CameraUrl> parseCameraUrl(const std::string& text) {
  const size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string::npos) return std::nullopt;
  CameraUrl url;
  url.scheme = lowerCase(text.substr(0, schemeEnd));
  if (url.scheme != "http" && url.scheme != "https") return std::nullopt;

  // The last '@' ends the credentials: a typed password may itself hold '@' or '/'.
  const size_t authorityStart = schemeEnd + 3;
  const size_t at = text.rfind('@');
  const size_t hostStart = (at != std::string::npos && at >= authorityStart) ? at + 1 : authorityStart;
  url.hasCredentials = hostStart != authorityStart;

  const size_t pathStart = text.find('/', hostStart);
  url.hostPort = text.substr(hostStart, pathStart == std::string::npos ? std::string::npos : pathStart - hostStart);
  url.path = pathStart == std::string::npos ? "/" : text.substr(pathStart);

  std::string host, port;
  if (!splitPort(url.hostPort, host, port) || host.empty() || !isValidPort(port)) return std::nullopt;
  return url;
}

std::string withoutCredentials(const std::string& text) {
  const size_t schemeEnd = text.find("://");
  const size_t at = text.rfind('@');
  if (schemeEnd == std::string::npos || at == std::string::npos || at < schemeEnd) return text;
  return text.substr(0, schemeEnd + 3) + text.substr(at + 1);
}

}  // namespace qrmhost
