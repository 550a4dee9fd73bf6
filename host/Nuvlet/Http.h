// Asynchronous camera requests over HTTP (plain or TLS) on a caller's io_context. Declarations
// only; implemented in libNuvlet (the operation itself is the template in
// Nuvlet/include/AsyncComplexOperation.h).
//
// An answer counts as success when the request ended without error and its status is 200-299
// or 302; any other status becomes an error in http_category carrying the status number.
// Answer bodies are capped at kMaxBodySize: a larger answer ends with error 264 (talvo category).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

#include "Connection.h"
#include "ErrorCodes.h"
#include "HttpCategory.h"
#include "HttpMessage.h"
#include "Logging.h"

namespace Talvo {
namespace http {

// Time-out of requests whose caller passes none, in seconds.
constexpr int kDefaultRequestTimeout = 30;

using Callback = std::function<void(const boost::system::error_code&, const Body&, const HttpResponse&)>;

// A running request. The caller keeps the handle to cancel it; the callback runs exactly once,
// on the io_context the request was started on, never inside the call that started the
// request, also after cancel() (with operation_aborted).
class AsyncOperation {
 public:
  virtual ~AsyncOperation() = default;
  // Any thread; only posts to the request's io_context.
  virtual void cancel() = 0;
};
using AsyncOperationPtr = std::shared_ptr<AsyncOperation>;

// Starts GET `uri` on `io`. `timeoutSeconds` <= 0 gives kDefaultRequestTimeout. `operation`
// receives the handle before the function returns; the callback runs later, on `io`.
// Thread: `io`'s thread, or any thread before `io` runs.
void asyncGetEx(const asio::ConnectionInfo& info, const std::string& uri, boost::asio::io_context& io,
                int timeoutSeconds, Callback callback, AsyncOperationPtr& operation, ILogger* logger = nullptr);
// As asyncGetEx, for POST: `headers` give Content-Type and any further header; Content-Length
// comes from `body`.
void asyncPostEx(const asio::ConnectionInfo& info, const std::string& uri, const std::string& body,
                 boost::asio::io_context& io, int timeoutSeconds, Callback callback, const HttpHeaders& headers,
                 AsyncOperationPtr& operation, ILogger* logger = nullptr);

}  // namespace http
}  // namespace Talvo
