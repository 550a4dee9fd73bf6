#include "Zelta_SourceHTTP.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Zelta_Print.h"

namespace Zelta {
namespace {

constexpr size_t kCredentialBufferSize = 256;
constexpr size_t kAuthorizationBufferSize = 1024;

// RFC 4648 base64 with '=' padding. The SDK carries its own: it depends on nothing but the C++
// library, sockets and LZ4.
std::string base64(const std::string& plain) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((plain.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= plain.size(); i += 3) {
    const unsigned v = static_cast<uint8_t>(plain[i]) << 16 | static_cast<uint8_t>(plain[i + 1]) << 8 |
                       static_cast<uint8_t>(plain[i + 2]);
    out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], alphabet[v & 63]};
  }
  const size_t rest = plain.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<uint8_t>(plain[i]) << 16;
    if (rest == 2) v |= static_cast<uint8_t>(plain[i + 1]) << 8;
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Parses the decimal digits at the start of text (stops at the first non-digit); -1 without any.
long leadingNumber(const std::string& text) {
  long value = -1;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = (value < 0 ? 0 : value) * 10 + (c - '0');
    if (value > 1000000) break;  // far outside any port; stops the growth
  }
  return value;
}

}  // namespace

Zelta_SourceHTTP::Zelta_HTTP_Header::Zelta_HTTP_Header(const uint8_t* data, size_t length) {
  m_header = static_cast<char*>(std::malloc(length + 1));
  ZELTA_CHECK(m_header != nullptr);
  if (length > 0) std::memcpy(m_header, data, length);
  m_header[length] = '\0';
  parseStatus();
}

Zelta_SourceHTTP::Zelta_HTTP_Header::Zelta_HTTP_Header(const Zelta_HTTP_Header& other) : m_status(other.m_status) {
  m_header = strdup(other.m_header);
  ZELTA_CHECK(m_header != nullptr);
}

Zelta_SourceHTTP::Zelta_HTTP_Header::~Zelta_HTTP_Header() { std::free(m_header); }

void Zelta_SourceHTTP::Zelta_HTTP_Header::parseStatus() {
  // The copy may hold picture bytes after the head; lines are taken up to the first zero byte.
  const std::string text(m_header);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t blank = line.find(' ');
    if (line.compare(0, 4, "HTTP") == 0 && blank != std::string::npos) {
      const long code = leadingNumber(line.substr(blank + 1));
      m_status = code >= 0 && code < 1000 ? static_cast<int>(code) : 0;
      return;
    }
    start = end + 2;
  }
}

Zelta_SourceHTTP::Zelta_SourceHTTP(std::string url, std::shared_ptr<Zelta_AuthorizationHandler> authHandler,
                                   std::shared_ptr<Zelta_NetworkConnection> connection)
    : Zelta_SourceAsyncNet(std::move(connection)), m_authHandler(std::move(authHandler)) {
  const int urlParsed = parseUrl(url);
  ZELTA_CHECK(urlParsed == 1);
}

Zelta_SourceHTTP::~Zelta_SourceHTTP() = default;

int Zelta_SourceHTTP::parseUrl(std::string url) {
  std::string rest;
  bool secure = false;
  int defaultPort = 80;
  const size_t http = url.find("http://");
  const size_t https = url.find("https://");
  if (http != std::string::npos && url.size() > http + 7) {
    rest = url.substr(http + 7);
  } else if (https != std::string::npos && url.size() > https + 8) {
    rest = url.substr(https + 8);
    secure = true;
    defaultPort = 443;
  } else {
    Zelta_Print::message("Error invalid url: " + url);
    return -1;
  }
  const size_t slash = rest.find('/');
  const std::string authority = rest.substr(0, slash);
  std::string host;
  size_t portColon = std::string::npos;
  if (!authority.empty() && authority[0] == '[') {
    // An IPv6 literal: "[addr]" or "[addr]:port"; its own colons are no port separators.
    const size_t close = authority.find(']');
    if (close == std::string::npos || close == 1 ||
        (close + 1 < authority.size() && authority[close + 1] != ':')) {
      Zelta_Print::message("Error invalid url: " + url);
      return -1;
    }
    host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) portColon = close + 1;
  } else {
    portColon = authority.find(':');
    host = authority.substr(0, portColon);
  }
  int port = defaultPort;
  if (portColon != std::string::npos) {
    const long parsed = leadingNumber(authority.substr(portColon + 1));
    port = parsed >= 1 && parsed <= 65536 ? static_cast<int>(parsed) : defaultPort;
  }
  m_path = slash == std::string::npos ? "/" : rest.substr(slash);
  ZELTA_TRACE(kTraceSetup, "remote name: ", host);
  ZELTA_TRACE(kTraceSetup, "remote port: ", port);
  ZELTA_TRACE(kTraceSetup, "remote path: ", m_path);
  setHost(host.c_str());
  setPort(port);
  setSecure(secure);
  return 1;
}

std::string Zelta_SourceHTTP::authorizationPart(const char* method) {
  if (!m_authHandler) return {};
  std::string own;
  if (m_authHandler->authorization(method, m_path.c_str(), own)) {
    if (own.empty()) return {};
    if (own.size() >= kAuthorizationBufferSize || own.find_first_of("\r\n") != std::string::npos) {
      Zelta_Print::message("Error creating HTTP Auth header");
      return {};
    }
    ++m_authAttempts;
    return "\r\nAuthorization: " + own;
  }
  char* host = getHost();
  const bool needed = m_credentialsRequired || m_authHandler->needsAuthorization(host ? host : "");
  std::free(host);
  if (!needed) return {};
  char user[kCredentialBufferSize] = {};
  char password[kCredentialBufferSize] = {};
  if (!m_authHandler->getUserName(user, sizeof user - 1)) {
    Zelta_Print::message("no user name, cannot add auth header");
    return {};
  }
  if (!m_authHandler->getPassword(password, sizeof password - 1)) {
    Zelta_Print::message("no password, cannot add auth header");
    return {};
  }
  if (user[0] == '\0' || password[0] == '\0') {
    Zelta_Print::message("cannot add auth header, username or password is empty");
    return {};
  }
  const std::string part = "\r\nAuthorization: Basic " + base64(std::string(user) + ":" + password);
  std::memset(password, 0, sizeof password);
  if (part.size() >= kAuthorizationBufferSize) {
    Zelta_Print::message("Error creating HTTP Basic Auth header");
    return {};
  }
  ++m_authAttempts;
  return part;
}

std::string Zelta_SourceHTTP::hostHeaderName() {
  char* host = getHost();
  std::string name = host ? host : "";
  std::free(host);
  // An IPv6 literal keeps its brackets in the Host header.
  return name.find(':') == std::string::npos ? name : "[" + name + "]";
}

std::string Zelta_SourceHTTP::buildGetRequest() {
  return concat("GET /", m_path.substr(1), " HTTP/1.0\r\nHost: ", hostHeaderName(), "\r\nUser-Agent: ", kUserAgent,
                authorizationPart("GET"), "\r\n\r\n");
}

std::string Zelta_SourceHTTP::buildPostRequest() {
  return concat("POST /", m_path.substr(1), " HTTP/1.0\r\nHost: ", hostHeaderName(),
                "\r\nConnection: close\r\nUser-Agent: ", kUserAgent, authorizationPart("POST"), "\r\n\r\n");
}

int Zelta_SourceHTTP::sendGetRequest() {
  if (getSocket() <= 0) {
    Zelta_Print::message("Cannot send GET request, Not connected");
    return -1;
  }
  return sendRequest(buildGetRequest(), "GET");
}

int Zelta_SourceHTTP::sendPostRequest() {
  if (getSocket() <= 0) {
    Zelta_Print::message("Cannot send POST request, Not connected");
    return -1;
  }
  return sendRequest(buildPostRequest(), "POST");
}

int Zelta_SourceHTTP::sendRequest(const std::string& request, const char* kind) {
  if (sendMessage(request.c_str(), request.size()) == eSend_Ok) ++m_outstandingRequests;
  return 1;
}

int Zelta_SourceHTTP::analyseHeader(const uint8_t* data, size_t length) {
  if (m_outstandingRequests > 0) --m_outstandingRequests;
  const Zelta_HTTP_Header header(data, length);
  const int status = header.status();
  if (status == 401) {
    ZELTA_TRACE(kTraceNetwork, "Unauthorized, need credentials ");
    if (m_authHandler) {
      m_authHandler->challenged(header.text());
      if (m_authAttempts >= m_authHandler->maxAuthorizationAttempts()) {
        Zelta_Print::message("Authorization required - Connection failed, try reconnecting");
        m_credentialsRequired = true;
        m_authHandler->connectionAborted();
        close_remote(false);
        m_authAttempts = 0;
      } else {
        m_credentialsRequired = true;
        Zelta_Print::message("need credentials");
        m_authHandler->authenticationFailed();
        close_remote(m_authHandler->reconnectAfterAuthFailure());
      }
    }
  } else if (status == 200) {
    m_authAttempts = 0;
  }
  return status;
}

void Zelta_SourceHTTP::checkResponse(const uint8_t* data, size_t length) {
  if (m_outstandingRequests < 1 || length < 7) return;
  static const char kMark[] = "HTTP/1";
  const auto* end = data + length;
  const auto* found = std::search(data, end, kMark, kMark + 6);
  if (found != end) analyseHeader(found, static_cast<size_t>(end - found));
}

}  // namespace Zelta
