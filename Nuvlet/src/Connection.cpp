// Parsing of the camera's connection text. Error texts name the part that is wrong and never
// repeat the text itself: it may hold a password.
#include "host/Nuvlet/Connection.h"

#include <algorithm>
#include <cctype>

#include "host/Nuvlet/PercentEncoding.h"

namespace Talvo {
namespace asio {

const boost::posix_time::time_duration DEFAULT_CONNECT_TIMEOUT = boost::posix_time::seconds(5);

namespace {

constexpr uint16_t kHttpPort = 80;
constexpr uint16_t kHttpsPort = 443;

std::string toLower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// `what` ("user name", "password") names the part in the error text.
std::string percentDecoded(const std::string& text, const char* what) {
  auto decoded = Utility::percentDecode(text);
  if (!decoded) throw ConnectionTextError(std::string("bad %-escape in the ") + what);
  return *decoded;
}

// Only well-known schemes are echoed in the error: a text in the scheme's place may be
// anything, a password too.
bool isKnownScheme(const std::string& scheme) {
  static const char* const kKnown[] = {"ftp", "ftps", "rtsp", "rtsps", "rtmp", "ws", "wss", "file", "udp", "tcp"};
  for (const char* known : kKnown)
    if (scheme == known) return true;
  return false;
}

std::string parsedScheme(const std::string& text, size_t separator) {
  const std::string scheme = toLower(text.substr(0, separator));
  if (scheme == "http" || scheme == "https") return scheme;
  if (isKnownScheme(scheme)) throw ConnectionTextError("unsupported scheme '" + scheme + "' (http or https expected)");
  throw ConnectionTextError("unsupported scheme (http or https expected)");
}

uint16_t parsedPort(const std::string& text) {
  if (text.empty() || text.size() > 5) throw ConnectionTextError("bad port (1..65535 expected)");
  unsigned value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) throw ConnectionTextError("bad port (1..65535 expected)");
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > 65535) throw ConnectionTextError("bad port (1..65535 expected)");
  return static_cast<uint16_t>(value);
}

bool isHostNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_'; }

// Hex groups, an embedded IPv4 part and a zone ("%eth0").
bool isIpv6Char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '.' || c == '%'; }

// "host", "host:port", "[v6]" or "[v6]:port" into `info`.
void parseHostAndPort(const std::string& text, ConnectionInfo& info) {
  std::string portText;
  bool hasPort = false;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) throw ConnectionTextError("unclosed '[' in the IPv6 host");
    info.host = text.substr(1, close - 1);
    const std::string rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') throw ConnectionTextError("unexpected characters after the IPv6 host");
      hasPort = true;
      portText = rest.substr(1);
    }
    if (info.host.empty()) throw ConnectionTextError("empty host");
    for (char c : info.host)
      if (!isIpv6Char(c)) throw ConnectionTextError("bad character in the IPv6 host");
  } else {
    const size_t colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos)
      throw ConnectionTextError("an IPv6 host must be written in brackets");
    info.host = text.substr(0, colon);
    if (colon != std::string::npos) {
      hasPort = true;
      portText = text.substr(colon + 1);
    }
    if (info.host.empty()) throw ConnectionTextError("empty host");
    for (char c : info.host)
      if (!isHostNameChar(c)) throw ConnectionTextError("bad character in the host");
  }
  info.port = hasPort ? parsedPort(portText) : (info.secure() ? kHttpsPort : kHttpPort);
}

void parseCredentials(const std::string& text, ConnectionInfo& info) {
  const size_t colon = text.find(':');
  info.user = percentDecoded(text.substr(0, colon), "user name");
  if (colon != std::string::npos) info.password = percentDecoded(text.substr(colon + 1), "password");
}

}  // namespace

std::string ConnectionInfo::hostAndPort() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string ConnectionInfo::display() const { return scheme + "://" + hostAndPort() + "/"; }

namespace {

// "AB:CD:..." or "abcd...", %-encoded or not, as 64 lower-case hex digits; "" for "".
std::string pinnedFingerprint(const std::string& text) {
  if (text.empty()) return {};
  const auto decoded = Utility::percentDecode(text);
  std::string digits;
  for (char c : decoded.value_or(std::string())) {
    if (c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c)) || digits.size() == 64)
      throw ConnectionTextError("tls_fingerprint must be 64 hex digits (SHA-256)");
    digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (digits.size() != 64) throw ConnectionTextError("tls_fingerprint must be 64 hex digits (SHA-256)");
  return digits;
}

}  // namespace

ConnectionInfo parseConnectionInfo(const std::string& original) {
  const std::string text = trimmed(original);
  const size_t separator = text.find("://");
  if (separator == std::string::npos) throw ConnectionTextError("no scheme (http:// or https:// expected)");
  ConnectionInfo info;
  info.scheme = parsedScheme(text, separator);

  // The authority ends at the path. A raw '@' may appear in the password: the last '@' of the
  // authority ends the credentials. A '/' in credentials must be written %2F.
  const size_t authorityBegin = separator + 3;
  size_t pathBegin = text.find('/', authorityBegin);
  if (pathBegin == std::string::npos) {
    // "http://host:80?auth=digest": the query starts at a '?' after the credentials (which may
    // hold a raw '?').
    const size_t credentialsEnd = text.rfind('@');
    pathBegin = text.find('?', credentialsEnd == std::string::npos || credentialsEnd < authorityBegin
                                   ? authorityBegin
                                   : credentialsEnd);
  }
  const std::string authority =
      text.substr(authorityBegin, pathBegin == std::string::npos ? std::string::npos : pathBegin - authorityBegin);
  info.path = pathBegin == std::string::npos ? "/" : text.substr(pathBegin);
  if (info.path[0] == '?') info.path.insert(0, "/");
  info.auth = connectionQueryItem(info.path, "auth");
  if (!info.auth.empty() && info.auth != "basic" && info.auth != "digest")
    throw ConnectionTextError("auth must be basic or digest");
  info.tlsFingerprint = pinnedFingerprint(connectionQueryItem(info.path, "tls_fingerprint"));

  const size_t at = authority.rfind('@');
  if (at != std::string::npos) parseCredentials(authority.substr(0, at), info);
  parseHostAndPort(at == std::string::npos ? authority : authority.substr(at + 1), info);
  return info;
}

std::string connectionQueryItem(const std::string& path, const std::string& name) {
  const size_t query = path.find('?');
  if (query == std::string::npos) return {};
  size_t at = query + 1;
  while (at < path.size()) {
    const size_t stop = std::min(path.find('&', at), path.size());
    const std::string item = path.substr(at, stop - at);
    if (item.compare(0, name.size() + 1, name + "=") == 0) return item.substr(name.size() + 1);
    at = stop + 1;
  }
  return {};
}

std::string addressStringToDisplay(const std::string& text) {
  try {
    return parseConnectionInfo(text).display();
  } catch (const ConnectionTextError&) {
    return "<invalid address>";
  }
}

bool literalEndpoint(const ConnectionInfo& info, boost::asio::ip::tcp::endpoint& endpoint) {
  // A zone ("fe80::1%25eth0") stays with the system's lookup, which knows the interfaces.
  if (info.host.find('%') != std::string::npos) return false;
  boost::system::error_code notAnAddress;
  const boost::asio::ip::address address = boost::asio::ip::make_address(info.host, notAnAddress);
  if (notAnAddress) return false;
  endpoint = boost::asio::ip::tcp::endpoint(address, info.port);
  return true;
}

}  // namespace asio
}  // namespace Talvo
