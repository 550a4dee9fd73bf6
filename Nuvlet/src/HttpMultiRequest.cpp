// A batch of GET requests to one camera, run one after another on the caller's io_context.
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>

#include "host/Nuvlet/HttpMultiRequest.h"

#include "Nuvlet/include/ThreadCheck.h"

namespace Talvo {
namespace Utility {

std::shared_ptr<AsyncMultiRequest> AsyncMultiRequest::create(const asio::ConnectionInfo& info,
                                                             boost::asio::io_context& io, ILogger* logger) {
  return std::shared_ptr<AsyncMultiRequest>(new AsyncMultiRequest(info, io, logger));
}

AsyncMultiRequest::AsyncMultiRequest(const asio::ConnectionInfo& info, boost::asio::io_context& io, ILogger* logger)
    : info_(info), io_(io), logger_(logger) {}

void AsyncMultiRequest::addGetRequest(const std::string& uri, int timeoutSeconds, RequestCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(Pending{uri, timeoutSeconds, std::move(callback)});
}

// The first request starts from the io_context's queue, so no callback runs inside start().
void AsyncMultiRequest::start(FinalCallback callback) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    final_ = std::move(callback);
  }
  auto self = shared_from_this();
  boost::asio::post(io_, [self] { self->runNext(); });
}

void AsyncMultiRequest::cancel() {
  http::AsyncOperationPtr running;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    running = current_;
  }
  if (running) running->cancel();  // only posts: its callback then ends the batch
}

// io_context thread: starts the next request, or ends the batch with the final callback.
void AsyncMultiRequest::runNext() {
  NUVLET_DCHECK_CALLED_ON(io_.get_executor().running_in_this_thread());
  Pending next;
  bool haveNext = false;
  FinalCallback final;
  boost::system::error_code finalError;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_ || queue_.empty()) {
      final = std::move(final_);
      final_ = nullptr;
      current_.reset();
      finalError = cancelled_ ? boost::system::error_code(boost::asio::error::operation_aborted) : firstError_;
    } else {
      next = std::move(queue_.front());
      queue_.pop_front();
      haveNext = true;
    }
  }
  if (!haveNext) {
    if (final) final(finalError);
    return;
  }

  auto self = shared_from_this();
  http::AsyncOperationPtr operation;
  http::asyncGetEx(
      info_, next.uri, io_, next.timeoutSeconds,
      [self, callback = std::move(next.callback)](const boost::system::error_code& error, const http::Body& body,
                                                  const http::HttpResponse& response) {
        {
          std::lock_guard<std::mutex> lock(self->mutex_);
          if (error && !self->firstError_) self->firstError_ = error;
        }
        if (callback) callback(error, body, response);
        self->runNext();
      },
      operation, logger_);
  bool cancelledMeanwhile = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = operation;
    cancelledMeanwhile = cancelled_;
  }
  if (cancelledMeanwhile) operation->cancel();  // cancel() came from another thread while this one started
}

}  // namespace Utility
}  // namespace Talvo
