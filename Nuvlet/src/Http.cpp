// Starting asynchronous camera requests (the operation is Nuvlet/include/AsyncHttp.h).
#include "host/Nuvlet/Http.h"

#include <memory>

#include "Nuvlet/include/AsyncHttp.h"
#include "Nuvlet/include/AsyncHttpStream.h"

namespace Talvo {
namespace http {

namespace {

// Creates the operation, hands out its handle, then starts it: the handle is the caller's
// before any step runs, and the callback never runs inside this call (start() posts or waits).
template <class Operation, class Request>
void createAndStart(boost::asio::io_context& io, Request request, Callback callback, ILogger* logger,
                    const boost::posix_time::time_duration& timeout, AsyncOperationPtr& operation) {
  auto created = std::make_shared<Operation>(io, std::move(request), std::move(callback), logger, timeout);
  operation = created;
  created->start();
}

}  // namespace

namespace detail {

void startRequest(const asio::ConnectionInfo& info, const HttpRequest& request, boost::asio::io_context& io,
                  const boost::posix_time::time_duration& timeout, Callback callback, AsyncOperationPtr& operation,
                  ILogger* logger) {
  createAndStart<RequestOperation>(io, OutgoingRequest(info, request), std::move(callback), logger, timeout, operation);
}

}  // namespace detail

void asyncGetEx(const asio::ConnectionInfo& info, const std::string& uri, boost::asio::io_context& io,
                int timeoutSeconds, Callback callback, AsyncOperationPtr& operation, ILogger* logger) {
  createAndStart<GetOperation>(io, detail::AsyncGetExContext(info, uri), std::move(callback), logger,
                               boost::posix_time::seconds(timeoutSeconds), operation);
}

void asyncGetStream(const asio::ConnectionInfo& info, const std::string& uri, boost::asio::io_context& io,
                    int timeoutSeconds, int silenceMilliseconds, StreamSink sink, Callback callback,
                    AsyncOperationPtr& operation, ILogger* logger) {
  createAndStart<StreamOperation>(
      io, StreamGetContext(info, uri, std::move(sink), boost::posix_time::milliseconds(silenceMilliseconds)),
      std::move(callback), logger, boost::posix_time::seconds(timeoutSeconds), operation);
}

void asyncPostEx(const asio::ConnectionInfo& info, const std::string& uri, const std::string& body,
                 boost::asio::io_context& io, int timeoutSeconds, Callback callback, const HttpHeaders& headers,
                 AsyncOperationPtr& operation, ILogger* logger) {
  createAndStart<PostOperation>(io, detail::AsyncPostExContext(info, uri, body, headers), std::move(callback), logger,
                                boost::posix_time::seconds(timeoutSeconds), operation);
}

}  // namespace http
}  // namespace Talvo
