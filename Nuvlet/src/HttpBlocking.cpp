// Blocking camera requests: each runs the asynchronous request operation on a private
// io_context on the calling thread, so there is one HTTP implementation only.
#include <mutex>

#include <boost/asio/connect.hpp>
#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>

#include "host/Nuvlet/HttpBlocking.h"

#include "Nuvlet/include/AsyncHttp.h"
#include "Nuvlet/include/HttpRequestText.h"
#include "Nuvlet/include/ThreadCheck.h"
#include "Nuvlet/include/HttpDigest.h"

namespace Talvo {
namespace http {

namespace {

struct Outcome {
  boost::system::error_code error;
  Body body;
  HttpResponse response;
};

// Runs `request` to its end on `io` on this thread; a stop of `io` ends it early.
Outcome runRequestOn(boost::asio::io_context& io, const asio::ConnectionInfo& info, const HttpRequest& request,
                     const boost::posix_time::time_duration& timeout, ILogger* logger) {
  Outcome outcome;
  AsyncOperationPtr operation;
  detail::startRequest(
      info, request, io, timeout,
      [&outcome](const boost::system::error_code& error, const Body& body, const HttpResponse& response) {
        outcome.error = error;
        outcome.body = body;
        outcome.response = response;
      },
      operation, logger);
  io.run();
  return outcome;
}

// Runs `request` to its end on a private io_context on this thread.
Outcome runRequest(const asio::ConnectionInfo& info, const HttpRequest& request,
                   const boost::posix_time::time_duration& timeout, ILogger* logger) {
  boost::asio::io_context io;
  return runRequestOn(io, info, request, timeout, logger);
}

// The code a caller of the blocking helpers gets: a status error gives its status number.
int resultCode(const boost::system::error_code& error) { return Utility::translateSystemError(error); }

}  // namespace

int httpGet(const asio::ConnectionInfo& info, const std::string& path, ILogger* logger,
            const boost::posix_time::time_duration& timeout) {
  return resultCode(runRequest(info, HttpRequest{"GET", path, {}, {}}, timeout, logger).error);
}

int syncHttpGet(const asio::ConnectionInfo& info, const std::string& path, ILogger* logger, std::string& reply,
                HttpHeaders& headers, bool verbose) {
  const HttpRequest request{"GET", path, {}, {}};
  if (verbose) {
    const LoggerOwner log(logger, "");
    NLOG(log, 0, " syncHttpGet " << detail::OutgoingRequest(info, request).describe());
  }
  const Outcome outcome = runRequest(info, request, boost::posix_time::seconds(kDefaultRequestTimeout), logger);
  reply.assign(outcome.body.begin(), outcome.body.end());
  headers = outcome.response.headers;
  return resultCode(outcome.error);
}

// ---- HttpSession ----

struct HttpSession::Impl {
  Impl(const asio::ConnectionInfo& connection, ILogger* log, int seconds)
      : info(connection), logger(log), timeoutSeconds(seconds) {}
  asio::ConnectionInfo info;
  ILogger* logger;
  int timeoutSeconds;
  Utility::ThreadBinding user;  // the one thread that sends through the session
  std::mutex mutex;             // guards the two below; cancel() comes from any thread
  bool cancelled = false;
  boost::asio::io_context* running = nullptr;  // the io_context of the request under way
};

HttpSession::HttpSession(const asio::ConnectionInfo& info, ILogger* logger, int timeoutSeconds)
    : impl_(std::make_unique<Impl>(info, logger, timeoutSeconds)) {}

HttpSession::~HttpSession() = default;

bool HttpSession::get(const std::string& target, HttpResponse& response, std::string& body,
                      boost::system::error_code& error) {
  return send(HttpRequest{"GET", target, {}, {}}, response, body, error);
}

// One connection per request: cameras close it after each answer anyway (Connection: close).
bool HttpSession::send(const HttpRequest& request, HttpResponse& response, std::string& body,
                       boost::system::error_code& error) {
  NUVLET_DCHECK_CALLED_ON(impl_->user.calledOnBoundThread());
  boost::asio::io_context io;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->running = &io;
    if (impl_->cancelled) io.stop();
  }
  Outcome outcome =
      runRequestOn(io, impl_->info, request, boost::posix_time::seconds(impl_->timeoutSeconds), impl_->logger);
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->running = nullptr;
    // A stopped io_context leaves the request's handler unrun: the request was cancelled.
    if (impl_->cancelled) outcome = Outcome{boost::asio::error::operation_aborted, {}, {}};
  }
  error = outcome.error;
  response = std::move(outcome.response);
  body.assign(outcome.body.begin(), outcome.body.end());
  // An answer was read when the request ended without error or with the answer's status.
  return !error || error.category() == http_category();
}

void HttpSession::cancel() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->cancelled = true;
  if (impl_->running) impl_->running->stop();  // thread-safe; run() returns on the session's thread
}

}  // namespace http

namespace asio {

namespace {

[[noreturn]] void fail(const boost::system::error_code& error, const char* what) {
  throw boost::system::system_error(error, what);
}

// Runs the handlers of `io` on this thread until `done` holds.
template <class Done>
void runUntil(boost::asio::io_context& io, Done done) {
  io.restart();
  while (!done())
    if (io.run_one() == 0) break;
}

// The endpoints of the camera. An address is taken as it is; a name is looked up on the
// calling thread (a thread of ours that waits for the connection anyway): an asynchronous
// lookup would start a resolver thread for every worker's io_context.
boost::asio::ip::tcp::resolver::results_type lookUp(boost::asio::ip::tcp::resolver& resolver,
                                                    const ConnectionInfo& info, boost::system::error_code& error) {
  boost::asio::ip::tcp::endpoint literal;
  if (literalEndpoint(info, literal))
    return boost::asio::ip::tcp::resolver::results_type::create(literal, info.host, std::to_string(info.port));
  return resolver.resolve(info.host, std::to_string(info.port), error);
}

}  // namespace

// The caller's socket belongs to an io_context it owns and does not run elsewhere meanwhile
// (a video worker's private io_context): this function runs it on the calling thread.
void connectHTTP(boost::asio::ip::tcp::socket& socket, boost::asio::streambuf& buffer, const std::string& path,
                 const ConnectionInfo& info, const boost::posix_time::time_duration& timeout) {
  if (info.secure()) fail(boost::asio::error::operation_not_supported, "connectHTTP: plain HTTP only");
  if (info.host.empty() || path.find_first_of(std::string("\r\n\0 ", 4)) != std::string::npos)
    fail(error::make_error_code(error::bad_request), "connectHTTP: request cannot be written");

  auto& io =
      static_cast<boost::asio::io_context&>(boost::asio::query(socket.get_executor(), boost::asio::execution::context));
  boost::asio::ip::tcp::resolver resolver(io);
  boost::system::error_code lookupError;
  const boost::asio::ip::tcp::resolver::results_type found = lookUp(resolver, info, lookupError);
  if (lookupError) fail(lookupError, "connectHTTP: resolve");
  boost::asio::deadline_timer deadline(io);
  bool timedOut = false;
  bool connectDone = false;
  bool timerDone = false;
  boost::system::error_code result = boost::asio::error::would_block;

  deadline.expires_from_now(timeout);
  deadline.async_wait([&](const boost::system::error_code& error) {
    timerDone = true;
    if (error || connectDone) return;
    timedOut = true;
    boost::system::error_code ignored;
    socket.close(ignored);
  });
  boost::asio::async_connect(socket, found,
                             [&](const boost::system::error_code& connectError, const boost::asio::ip::tcp::endpoint&) {
                               result = connectError;
                               connectDone = true;
                               deadline.cancel();
                             });
  // Both handlers must have run before the locals they use go away.
  runUntil(io, [&] { return connectDone && timerDone; });
  if (!connectDone || !timerDone) fail(boost::asio::error::operation_aborted, "connectHTTP: io_context stopped");
  if (timedOut) fail(boost::asio::error::timed_out, "connectHTTP: connect");
  if (result) fail(result, "connectHTTP: connect");

  buffer.consume(buffer.size());  // the buffer is left empty for the caller's reading of the answer
  std::ostream request(&buffer);
  request << "GET " << (path.empty() ? "/" : path) << " HTTP/1.0\r\n";
  request << "Host: " << info.hostAndPort() << "\r\n";
  const std::string authorization = http::cameraAuthorization(info, "GET", path.empty() ? "/" : path);
  if (!authorization.empty()) request << "Authorization: " << authorization << "\r\n";
  request << "User-Agent: " << http::detail::kUserAgent << "\r\n\r\n";
  boost::asio::write(socket, buffer);  // consumes what it wrote; throws system_error
}

}  // namespace asio
}  // namespace Talvo
