// What one camera request sends: the request with its connection, whether it can be written at
// all, its bytes on the wire and its name in log lines. Declarations only; implemented in
// libNuvlet.
#pragma once

#include <string>
#include <utility>

#include <boost/system/error_code.hpp>

#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/HttpMessage.h"

namespace Talvo {
namespace http {
namespace detail {

// The User-Agent of every request the library writes.
constexpr char kUserAgent[] = "Orsel.Vantrel/3.78";

struct OutgoingRequest {
  OutgoingRequest(asio::ConnectionInfo connection, HttpRequest toSend)
      : info(std::move(connection)), request(std::move(toSend)) {}

  asio::ConnectionInfo info;
  HttpRequest request;

  // bad_request (265) without a host, or when the method, the target or a header would break
  // the request apart (CR, LF, NUL, blanks in the target).
  boost::system::error_code check() const;
  // The bytes written to the camera. Precondition: check() passed.
  std::string text() const;
  // "GET http://host:port/path" for log lines: no credentials, no query (it may carry them).
  std::string describe() const;
};

struct AsyncGetExContext : OutgoingRequest {
  AsyncGetExContext(const asio::ConnectionInfo& info, const std::string& uri);
};

// `headers` give Content-Type and any further header; Content-Length comes from `body`.
struct AsyncPostExContext : OutgoingRequest {
  AsyncPostExContext(const asio::ConnectionInfo& info, const std::string& uri, const std::string& body,
               const HttpHeaders& headers);
};

}  // namespace detail
}  // namespace http
}  // namespace Talvo
