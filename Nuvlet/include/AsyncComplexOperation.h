// The asynchronous operation behind every camera request: a chain of steps (resolve, connect,
// handshake, write, read) run on one io_context, one deadline for the whole chain, one callback.
//
// Template parameters:
//   Steps    - the request steps (AsyncRequestSteps in AsyncHttp.h): an object owned by the
//              operation that starts each step; a step ends with completeStep(error).
//   Context  - what to send (detail::AsyncGetExContext, detail::AsyncPostExContext).
//   CodesMap - turns a step's failure into the error the caller sees (AsyncRequestCodesMap).
//
// Threads: everything of one operation runs on its io_context, the callback too; only cancel()
// may be called from any thread (it posts). The operation keeps itself alive through the
// handlers of its pending step; the timer holds it only weakly.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/format.hpp>
#include <boost/system/error_code.hpp>

#include "host/Nuvlet/Http.h"
#include "host/Nuvlet/Logging.h"

namespace Talvo {
namespace http {

// The TLS settings shared by all camera requests: TLS client, no certificate verification
// unless ORSEL_VANTREL_TLS_VERIFY=1 (cameras present self-signed certificates).
std::shared_ptr<boost::asio::ssl::context> clientTlsContext();
// True when ORSEL_VANTREL_TLS_VERIFY=1 asked for certificate and host name checks.
bool tlsVerificationEnabled();

// The connection of one request: a plain socket or a TLS stream, of which a request opens one.
struct SocketHolderContext {
  SocketHolderContext(boost::asio::io_context& context, std::shared_ptr<boost::asio::ssl::context> tls)
      : tlsContext(std::move(tls)), resolver(context), socket(context), tlsStream(context, *tlsContext) {}

  std::shared_ptr<boost::asio::ssl::context> tlsContext;  // declared first: outlives the stream
  boost::asio::ip::tcp::resolver resolver;
  boost::asio::ip::tcp::socket socket;
  boost::asio::ssl::stream<boost::asio::ip::tcp::socket> tlsStream;
};

// Closes both sockets and stops name resolution, so that the pending step ends with an error.
inline void handleTimeout(SocketHolderContext& holder) {
  boost::system::error_code ignored;
  holder.resolver.cancel();
  holder.socket.close(ignored);
  holder.tlsStream.lowest_layer().close(ignored);
}

template <class Steps, class Context, class CodesMap>
class AsyncComplexOperation : public AsyncOperation,
                              public std::enable_shared_from_this<AsyncComplexOperation<Steps, Context, CodesMap>> {
 public:
  using Step = typename Steps::Step;

  // `timeout` covers the whole request; not positive gives kDefaultRequestTimeout.
  AsyncComplexOperation(boost::asio::io_context& context, Context request, Callback callback, ILogger* logger,
                        boost::posix_time::time_duration timeout)
      : io_(context),
        request_(std::move(request)),
        callback_(std::move(callback)),
        log_(logger, ""),
        timeout_(timeout > boost::posix_time::time_duration() ? timeout
                                                              : boost::posix_time::seconds(kDefaultRequestTimeout)),
        sockets_(std::make_unique<SocketHolderContext>(context, clientTlsContext())),
        receive_(kMaxHeadSize),
        timer_(context),
        step_(steps_.first()) {}

  // The timer goes first: its handler must not find a half-destroyed connection.
  ~AsyncComplexOperation() override {
    timer_.cancel();
    sockets_.reset();
  }

  AsyncComplexOperation(const AsyncComplexOperation&) = delete;
  AsyncComplexOperation& operator=(const AsyncComplexOperation&) = delete;

  // Starts the first step; on the io_context's thread or before the io_context runs. A request
  // that cannot be written ends (posted, never inline) with error 265.
  void start() {
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
    steps_.run(step_, *this);
  }

  // Any thread. The callback runs once, with operation_aborted unless the request had ended.
  void cancel() override {
    std::weak_ptr<AsyncComplexOperation> weak = this->weak_from_this();
    boost::asio::post(io_, [weak] {
      if (auto self = weak.lock())
        if (!self->finished_) self->finish(boost::asio::error::operation_aborted);
    });
  }

  // The deadline passed: close the connection; the interrupted step then ends the request,
  // which reports timed_out. A cancelled or re-armed timer, or one that fires after the
  // request ended, does nothing.
  void handleTimer(const boost::system::error_code& error) {
    if (error || finished_) return;
    timedOut_ = true;
    NLOG(log_, 3, " [aco " << boost::format("%1%") % static_cast<const void*>(this) << "] timeout");
    handleTimeout(*sockets_);
  }

  // ---- For the steps (io_context thread) ----

  // Ends the running step. A status error of the answer is remembered and the steps go on
  // (the body is still read); any other error ends the request.
  void completeStep(boost::system::error_code error) {
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
  // Ends the running step from the io_context's queue: for steps that know their outcome at once.
  void completeStepLater(boost::system::error_code error) {
    auto self = this->shared_from_this();
    boost::asio::post(io_, [self, error] { self->completeStep(error); });
  }

  std::shared_ptr<AsyncComplexOperation> keepAlive() { return this->shared_from_this(); }
  bool finished() const { return finished_; }
  boost::asio::io_context& ioContext() { return io_; }
  const Context& request() const { return request_; }
  SocketHolderContext& sockets() { return *sockets_; }
  boost::asio::streambuf& receiveBuffer() { return receive_; }
  HttpResponse& response() { return response_; }
  Body& body() { return body_; }
  const LoggerOwner& log() const { return log_; }

 private:
  void finish(const boost::system::error_code& error) {
    finished_ = true;
    timer_.cancel();
    handleTimeout(*sockets_);
    if (error && !CodesMap::isAnswerStatus(error)) body_.clear();  // a broken answer has no usable body
    NLOG(log_, 0, " " << request_.describe() << " ended: " << (error ? error.message() : std::string("OK")));
    Callback callback = std::move(callback_);
    callback_ = nullptr;  // the callback often holds the handle of this operation: break the cycle
    if (callback) callback(error, body_, response_);
  }

  boost::asio::io_context& io_;
  const Context request_;
  Callback callback_;
  LoggerOwner log_;
  const boost::posix_time::time_duration timeout_;
  std::unique_ptr<SocketHolderContext> sockets_;
  boost::asio::streambuf receive_;  // the head is read here; capped at kMaxHeadSize
  HttpResponse response_;
  Body body_;  // capped at kMaxBodySize by the steps
  boost::asio::deadline_timer timer_;
  Steps steps_;
  Step step_;
  boost::system::error_code statusError_;
  bool finished_ = false;
  bool timedOut_ = false;
};

}  // namespace http
}  // namespace Talvo
