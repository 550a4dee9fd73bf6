// Camera requests over HTTP (plain or TLS): asynchronous operations on a caller's io_context,
// blocking helpers, batches. Declarations only; implemented in libNuvlet (the operation itself is
// the template in Nuvlet/include/AsyncComplexOperation.h).
//
// An answer counts as success when the request ended without error and its status is 200-299
// or 302; any other status becomes an error in http_category carrying the status number.
// Answer bodies are capped at kMaxBodySize: a larger answer ends with error 264 (talvo category).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/system/error_code.hpp>

#include "../Contract.h"
#include "Connection.h"
#include "Conversions.h"
#include "Logging.h"

namespace Talvo {
namespace http {

constexpr size_t kMaxBodySize = 16u * 1024 * 1024;
constexpr size_t kMaxHeadSize = 64u * 1024;
// Time-out of requests whose caller passes none, in seconds.
constexpr int kDefaultRequestTimeout = 30;

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using HttpHeaders = std::multimap<std::string, std::string, CaseInsensitiveLess>;

struct HttpResponse {
  int status = 0;          // 0 when no status line was read
  std::string statusText;  // "OK", "Not Found", ...
  std::string version;     // "HTTP/1.1"
  HttpHeaders headers;
  // The first value of header `name`, or "" (and `found` false).
  std::string header(const std::string& name, bool* found = nullptr) const;
  bool isSuccess() const { return (status >= 200 && status <= 299) || status == 302; }
};

struct HttpRequest {
  std::string method = "GET";
  std::string target;  // "/control/control?read&section=x"
  HttpHeaders headers;
  std::string body;
};

// Errors carrying an HTTP status as their value.
const boost::system::error_category& http_category();
// 0 for a successful status (200-299, 302); 10 (connection failure) when no status was read;
// else the status number.
int translateResponseError(const HttpResponse& response);

// Parses "HTTP/1.1 200 OK\r\n" at the start of [begin, end). Returns the bytes used, 0 when the
// line is malformed or incomplete.
size_t parseStatusLine(const char* begin, const char* end, HttpResponse& response);
// Parses header lines up to and including the empty line. Returns the bytes used, 0 when a line
// is malformed or the block is incomplete.
size_t parseHeaders(const char* begin, const char* end, HttpHeaders& headers);

using Body = std::vector<uint8_t>;
using Callback = std::function<void(const boost::system::error_code&, const Body&, const HttpResponse&)>;

// A running request. The caller keeps the handle to cancel it; the callback runs exactly once,
// on the io_context the request was started on, also after cancel() (with operation_aborted).
class AsyncOperation {
 public:
  virtual ~AsyncOperation() = default;
  // Any thread.
  virtual void cancel() = 0;
};
using AsyncOperationPtr = std::shared_ptr<AsyncOperation>;

// Starts GET `uri` on `context`. `timeoutSeconds` <= 0 gives kDefaultRequestTimeout.
// `operation` receives the handle before the function returns.
void asyncGetEx(const asio::ConnectionInfo& info, const std::string& uri, boost::asio::io_context& context,
                int timeoutSeconds, Callback callback, AsyncOperationPtr& operation, ILogger* logger = nullptr);
void asyncPostEx(const asio::ConnectionInfo& info, const std::string& uri, const std::string& body,
                 boost::asio::io_context& context, int timeoutSeconds, Callback callback, const HttpHeaders& headers,
                 AsyncOperationPtr& operation, ILogger* logger = nullptr);

// Blocking GET on a private io_context; returns the request's result code (translateSystemError
// of the error; 0 on success). `logger` may be null (silent).
int httpGet(const asio::ConnectionInfo& info, const std::string& path, ILogger* logger,
            const boost::posix_time::time_duration& timeout);
// Blocking GET that also returns the body as text and the answer's headers. `verbose` logs the
// request at level 0.
int syncHttpGet(const asio::ConnectionInfo& info, const std::string& path, ILogger* logger, std::string& reply,
                HttpHeaders& headers, bool verbose);

// A blocking client for several requests to one camera, on its own io_context. Not thread-safe:
// one thread uses a session.
class HttpSession {
 public:
  explicit HttpSession(const asio::ConnectionInfo& info, ILogger* logger = nullptr,
                       int timeoutSeconds = kDefaultRequestTimeout);
  ~HttpSession();
  // False when no answer was read (`error` says why); true with `response` and `body` filled
  // for any status.
  bool get(const std::string& target, HttpResponse& response, std::string& body, boost::system::error_code& error);
  bool send(const HttpRequest& request, HttpResponse& response, std::string& body, boost::system::error_code& error);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// "Authorization" header value for Basic authentication of `info`'s user ("" without user).
using Authorizer = std::function<std::string(const asio::ConnectionInfo& info)>;
Authorizer createDefaultAuthorizer();

}  // namespace http

namespace asio {
// Connects `socket` (blocking, with a deadline of `timeout`) to the camera of `info` and writes
// "GET path HTTP/1.0" with Host and Basic authorisation. Throws boost::system::system_error on
// failure (error 110, timed out, when the deadline passes). Plain HTTP only.
void connectHTTP(boost::asio::ip::tcp::socket& socket, boost::asio::streambuf& buffer, const std::string& path,
                 const ConnectionInfo& info, const boost::posix_time::time_duration& timeout);
}  // namespace asio

namespace Utility {

// GET requests run one after another on one io_context; a request added from a callback runs
// after those already queued. The final callback gets the first error code met (0 when every
// request succeeded); requests after a failed one still run. Thread: add and start on the
// io_context's thread or before it runs.
class AsyncMultiRequest : public std::enable_shared_from_this<AsyncMultiRequest> {
 public:
  using RequestCallback = http::Callback;
  using FinalCallback = std::function<void(const boost::system::error_code&)>;

  static std::shared_ptr<AsyncMultiRequest> create(const asio::ConnectionInfo& info, boost::asio::io_context& context,
                                                   ILogger* logger = nullptr);
  void addGetRequest(const std::string& uri, int timeoutSeconds, RequestCallback callback);
  void start(FinalCallback callback);
  // Cancels the running request; the rest are not started; the final callback gets operation_aborted.
  void cancel();

 private:
  AsyncMultiRequest(const asio::ConnectionInfo& info, boost::asio::io_context& context, ILogger* logger);
  void runNext();
  struct Pending {
    std::string uri;
    int timeoutSeconds;
    RequestCallback callback;
  };
  asio::ConnectionInfo info_;
  boost::asio::io_context& context_;
  ILogger* logger_;
  std::deque<Pending> queue_;
  FinalCallback final_;
  boost::system::error_code firstError_;
  http::AsyncOperationPtr current_;
  bool cancelled_ = false;
  std::mutex mutex_;
};

}  // namespace Utility
}  // namespace Talvo
