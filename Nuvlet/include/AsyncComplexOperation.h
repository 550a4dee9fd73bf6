// The asynchronous operation behind every camera request: a chain of steps (resolve, connect,
// handshake, write, read) run on one io_context, one deadline for the whole chain, one callback.
// Declarations; the bodies are in impl/AsyncComplexOperation.hpp.
//
// Template parameters:
//   Steps    - the request steps (AsyncRequestSteps in AsyncHttp.h): an object owned by the
//              operation that starts each step; a step ends with completeStep(error).
//   Request  - what to send (detail::AsyncGetExContext, detail::AsyncPostExContext, detail::OutgoingRequest).
//   CodesMap - turns a step's failure into the error the caller sees (AsyncRequestCodesMap).
//
// Threads: everything of one operation runs on its io_context, the callback too (checked in
// debug builds); only cancel() may be called from any thread (it posts). The callback never
// runs inside start() or cancel(). The operation keeps itself alive through the handlers of its
// pending step; the timer holds it only weakly.
#pragma once

#include <memory>

#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/system/error_code.hpp>

#include "host/Nuvlet/Http.h"
#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/NameLookup.h"

namespace Talvo {
namespace http {

// The connection of one request: a plain socket or a TLS stream, of which a request opens one.
struct SocketHolderContext {
  SocketHolderContext(boost::asio::io_context& io, std::shared_ptr<boost::asio::ssl::context> tls)
      : tlsSettings(std::move(tls)), lookup(io), socket(io), tlsStream(io, *tlsSettings) {}

  std::shared_ptr<boost::asio::ssl::context> tlsSettings;  // declared first: outlives the stream
  asio::NameLookup lookup;  // shared lookup threads: no resolver thread per io_context
  boost::asio::ip::tcp::socket socket;
  boost::asio::ssl::stream<boost::asio::ip::tcp::socket> tlsStream;
};

// Closes both sockets and stops name resolution, so that the pending step ends with an error.
// io_context thread of the request.
void handleTimeout(SocketHolderContext& sockets);

template <class Steps, class Request, class CodesMap>
class AsyncComplexOperation : public AsyncOperation,
                              public std::enable_shared_from_this<AsyncComplexOperation<Steps, Request, CodesMap>> {
 public:
  using Step = typename Steps::Step;

  // `timeout` covers the whole request; not positive gives kDefaultRequestTimeout.
  AsyncComplexOperation(boost::asio::io_context& io, Request request, Callback callback, ILogger* logger,
                        boost::posix_time::time_duration timeout);
  // The timer goes first: its handler must not find a half-destroyed connection.
  ~AsyncComplexOperation() override;
  AsyncComplexOperation(const AsyncComplexOperation&) = delete;
  AsyncComplexOperation& operator=(const AsyncComplexOperation&) = delete;

  // Starts the first step; on the io_context's thread or before the io_context runs (which the
  // io_context cannot tell, so this is not checked). Precondition: the operation is owned by a
  // shared_ptr. A request that cannot be written ends (posted, never inline) with error 265.
  void start();
  // Any thread. The callback runs once, with operation_aborted unless the request had ended.
  void cancel() override;
  // io_context thread: the deadline passed, so the connection is closed; the interrupted step
  // then ends the request, which reports timed_out. A cancelled or re-armed timer, or one that
  // fires after the request ended, does nothing.
  void handleTimer(const boost::system::error_code& error);

  // ---- For the steps (io_context thread, checked) ----

  // Ends the running step. A status error of the answer is remembered and the steps go on
  // (the body is still read); any other error ends the request.
  void completeStep(boost::system::error_code error);
  // Ends the running step from the io_context's queue: for steps that know their outcome at once.
  void completeStepLater(boost::system::error_code error);

  std::shared_ptr<AsyncComplexOperation> keepAlive() { return this->shared_from_this(); }
  bool finished() const { return finished_; }
  boost::asio::io_context& ioContext() { return io_; }
  const Request& request() const { return request_; }
  SocketHolderContext& sockets() { return *sockets_; }
  boost::asio::streambuf& receiveBuffer() { return receive_; }
  HttpResponse& response() { return response_; }
  Body& body() { return body_; }
  const LoggerOwner& log() const { return log_; }
  // True on a thread that runs this operation's io_context.
  bool onOwnThread() const { return io_.get_executor().running_in_this_thread(); }

 private:
  void finish(const boost::system::error_code& error);
  // A 401 whose Digest challenge the camera's state took: the request starts over once, on
  // fresh sockets, answering it. False when the request is to end.
  bool askAgainWithDigest(const boost::system::error_code& error);

  boost::asio::io_context& io_;
  const Request request_;
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
  bool askedAgain_ = false;
};

}  // namespace http
}  // namespace Talvo

#include "impl/AsyncComplexOperation.hpp"
