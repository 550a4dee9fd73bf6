// Bodies of the request operation declared in Nuvlet/include/AsyncComplexOperation.h.
#pragma once

#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/format.hpp>

#include "Nuvlet/include/HttpDigest.h"
#include "Nuvlet/include/HttpTls.h"
#include "Nuvlet/include/ThreadCheck.h"

namespace Talvo {
namespace http {

inline void handleTimeout(SocketHolderContext& sockets) {
  boost::system::error_code ignored;
  sockets.lookup.cancel();
  sockets.socket.close(ignored);
  sockets.tlsStream.lowest_layer().close(ignored);
}

template <class Steps, class Request, class CodesMap>
AsyncComplexOperation<Steps, Request, CodesMap>::AsyncComplexOperation(boost::asio::io_context& io, Request request,
                                                                       Callback callback, ILogger* logger,
                                                                       boost::posix_time::time_duration timeout)
    : io_(io),
      request_(std::move(request)),
      callback_(std::move(callback)),
      log_(logger, ""),
      timeout_(timeout > boost::posix_time::time_duration() ? timeout
                                                            : boost::posix_time::seconds(kDefaultRequestTimeout)),
      sockets_(std::make_unique<SocketHolderContext>(io, clientTlsSettings())),
      receive_(kMaxHeadSize),
      timer_(io),
      step_(steps_.first()) {}

template <class Steps, class Request, class CodesMap>
AsyncComplexOperation<Steps, Request, CodesMap>::~AsyncComplexOperation() {
  timer_.cancel();
  sockets_.reset();
}

template <class Steps, class Request, class CodesMap>
void AsyncComplexOperation<Steps, Request, CodesMap>::start() {
  const boost::system::error_code invalid = request_.check();
  if (invalid) {
    completeStepLater(invalid);
    return;
  }
  NLOG(log_, 0, " " << request_.describe());
  timer_.expires_from_now(timeout_);
  std::weak_ptr<AsyncComplexOperation> weak = this->weak_from_this();
  timer_.async_wait([weak](const boost::system::error_code& error) {
    if (auto self = weak.lock()) self->handleTimer(error);
  });
  steps_.run(step_, *this);  // every step ends in a completion handler, never inside this call
}

template <class Steps, class Request, class CodesMap>
void AsyncComplexOperation<Steps, Request, CodesMap>::cancel() {
  std::weak_ptr<AsyncComplexOperation> weak = this->weak_from_this();
  boost::asio::post(io_, [weak] {
    if (auto self = weak.lock())
      if (!self->finished_) self->finish(boost::asio::error::operation_aborted);
  });
}

template <class Steps, class Request, class CodesMap>
void AsyncComplexOperation<Steps, Request, CodesMap>::handleTimer(const boost::system::error_code& error) {
  NUVLET_DCHECK_CALLED_ON(onOwnThread());
  if (error || finished_) return;
  timedOut_ = true;
  NLOG(log_, 3, " [aco " << boost::format("%1%") % static_cast<const void*>(this) << "] timeout");
  handleTimeout(*sockets_);
}

template <class Steps, class Request, class CodesMap>
void AsyncComplexOperation<Steps, Request, CodesMap>::completeStep(boost::system::error_code error) {
  NUVLET_DCHECK_CALLED_ON(onOwnThread());
  if (finished_) return;
  if (error && CodesMap::isAnswerStatus(error)) {
    statusError_ = error;
    error.clear();
  }
  if (error) {
    finish(timedOut_ ? boost::system::error_code(boost::asio::error::timed_out) : CodesMap::translate(step_, error));
    return;
  }
  step_ = steps_.next(step_, *this);
  if (step_ == Step::Done) {
    finish(statusError_);
    return;
  }
  steps_.run(step_, *this);
}

template <class Steps, class Request, class CodesMap>
void AsyncComplexOperation<Steps, Request, CodesMap>::completeStepLater(boost::system::error_code error) {
  auto self = this->shared_from_this();
  boost::asio::post(io_, [self, error] { self->completeStep(error); });
}

template <class Steps, class Request, class CodesMap>
bool AsyncComplexOperation<Steps, Request, CodesMap>::askAgainWithDigest(const boost::system::error_code& error) {
  if (askedAgain_ || timedOut_ || error == boost::asio::error::operation_aborted || response_.status != 401)
    return false;
  if (!acceptCameraChallenges(request_.info, response_.headers)) return false;
  askedAgain_ = true;
  NLOG(log_, 0, " " << request_.describe() << ": the camera asks for Digest; asking again");
  handleTimeout(*sockets_);
  sockets_ = std::make_unique<SocketHolderContext>(io_, clientTlsSettings());
  receive_.consume(receive_.size());
  response_ = HttpResponse();
  body_.clear();
  statusError_.clear();
  steps_ = Steps();
  step_ = steps_.first();
  steps_.run(step_, *this);  // the request's time-out goes on: it covers both attempts
  return true;
}

template <class Steps, class Request, class CodesMap>
void AsyncComplexOperation<Steps, Request, CodesMap>::finish(const boost::system::error_code& error) {
  NUVLET_DCHECK_CALLED_ON(onOwnThread());
  if (askAgainWithDigest(error)) return;
  finished_ = true;
  timer_.cancel();
  handleTimeout(*sockets_);
  if (error && !CodesMap::isAnswerStatus(error)) body_.clear();  // a broken answer has no usable body
  NLOG(log_, 0, " " << request_.describe() << " ended: " << (error ? error.message() : std::string("OK")));
  Callback callback = std::move(callback_);
  callback_ = nullptr;  // the callback often holds the handle of this operation: break the cycle
  if (callback) callback(error, body_, response_);
}

}  // namespace http
}  // namespace Talvo
