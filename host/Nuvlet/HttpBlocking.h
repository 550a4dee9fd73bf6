// Blocking camera requests: each runs the asynchronous request on a private io_context on the
// calling thread; and the blocking connect of the live stream. Declarations only; implemented
// in libNuvlet.
#pragma once

#include <memory>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/system/error_code.hpp>

#include "Connection.h"
#include "Http.h"
#include "Logging.h"

namespace Talvo {
namespace http {

// Blocking GET on a private io_context; returns the request's result code (translateSystemError
// of the error; 0 on success). `logger` may be null (silent).
int httpGet(const asio::ConnectionInfo& info, const std::string& path, ILogger* logger,
            const boost::posix_time::time_duration& timeout);
// Blocking GET that also returns the body as text and the answer's headers. `verbose` logs the
// request at level 0.
int syncHttpGet(const asio::ConnectionInfo& info, const std::string& path, ILogger* logger, std::string& reply,
                HttpHeaders& headers, bool verbose);

// A blocking client for several requests to one camera, on its own io_context. Not thread-safe:
// one thread uses a session (checked in debug builds), except cancel().
class HttpSession {
 public:
  explicit HttpSession(const asio::ConnectionInfo& info, ILogger* logger = nullptr,
                       int timeoutSeconds = kDefaultRequestTimeout);
  ~HttpSession();
  // False when no answer was read (`error` says why); true with `response` and `body` filled
  // for any status.
  bool get(const std::string& target, HttpResponse& response, std::string& body, boost::system::error_code& error);
  bool send(const HttpRequest& request, HttpResponse& response, std::string& body, boost::system::error_code& error);
  // Any thread: ends the request running now, and every later one at once, with
  // operation_aborted (false from get/send). Does not wait for the request's thread.
  void cancel();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace http

namespace asio {
// Connects `socket` (blocking, with a deadline of `timeout`) to the camera of `info` and writes
// "GET path HTTP/1.0" with Host and Basic authorisation. Throws boost::system::system_error on
// failure (error 110, timed out, when the deadline passes). Plain HTTP only.
// Precondition: nothing else runs the socket's io_context meanwhile: this function runs it on
// the calling thread.
void connectHTTP(boost::asio::ip::tcp::socket& socket, boost::asio::streambuf& buffer, const std::string& path,
                 const ConnectionInfo& info, const boost::posix_time::time_duration& timeout);
}  // namespace asio
}  // namespace Talvo
