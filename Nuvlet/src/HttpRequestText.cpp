// The bytes of a camera request and its name in log lines.
#include "Nuvlet/include/HttpRequestText.h"

#include <algorithm>

#include <boost/algorithm/string/predicate.hpp>

#include "HttpCharacters.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "Nuvlet/include/HttpDigest.h"

namespace Talvo {
namespace http {

namespace detail {

namespace {

using characters::isTextChar;
using characters::isTokenChar;

bool hasLineBreakOrNul(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Headers written by the request itself; a caller's copies of them are dropped.
bool isOwnHeader(const std::string& name) {
  for (const char* own : {"Host", "Connection", "Authorization", "User-Agent", "Content-Length"})
    if (boost::algorithm::iequals(name, own)) return true;
  return false;
}

std::string normalisedTarget(const std::string& uri) {
  if (uri.empty()) return "/";
  return uri[0] == '/' ? uri : "/" + uri;
}

}  // namespace

boost::system::error_code OutgoingRequest::check() const {
  const auto invalid = error::make_error_code(error::bad_request);
  if (info.host.empty() || hasLineBreakOrNul(info.host)) return invalid;
  if (request.method.empty() || !std::all_of(request.method.begin(), request.method.end(), isTokenChar)) return invalid;
  for (char c : request.target)
    if (!isTextChar(c) || c == ' ' || c == '\t') return invalid;
  for (const auto& header : request.headers) {
    if (header.first.empty() || !std::all_of(header.first.begin(), header.first.end(), isTokenChar)) return invalid;
    if (!std::all_of(header.second.begin(), header.second.end(), isTextChar)) return invalid;
  }
  return {};
}

std::string OutgoingRequest::text() const {
  std::string text = request.method + " " + normalisedTarget(request.target) + " HTTP/1.1\r\n";
  text += "Host: " + info.hostAndPort() + "\r\n";
  text += "Connection: close\r\n";
  const std::string authorization = cameraAuthorization(info, request.method, normalisedTarget(request.target));
  if (!authorization.empty()) text += "Authorization: " + authorization + "\r\n";
  text += std::string("User-Agent: ") + kUserAgent + "\r\n";
  for (const auto& header : request.headers)
    if (!isOwnHeader(header.first)) text += header.first + ": " + header.second + "\r\n";
  if (!request.body.empty() || request.method == "POST" || request.method == "PUT")
    text += "Content-Length: " + std::to_string(request.body.size()) + "\r\n";
  text += "\r\n";
  text += request.body;
  return text;
}

std::string OutgoingRequest::describe() const {
  const std::string target = normalisedTarget(request.target);
  return request.method + " " + info.scheme + "://" + info.hostAndPort() + target.substr(0, target.find('?'));
}

AsyncGetExContext::AsyncGetExContext(const asio::ConnectionInfo& info, const std::string& uri)
    : OutgoingRequest(info, HttpRequest{"GET", uri, {}, {}}) {}

AsyncPostExContext::AsyncPostExContext(const asio::ConnectionInfo& info, const std::string& uri, const std::string& body,
                           const HttpHeaders& headers)
    : OutgoingRequest(info, HttpRequest{"POST", uri, headers, body}) {}

}  // namespace detail
}  // namespace http
}  // namespace Talvo
