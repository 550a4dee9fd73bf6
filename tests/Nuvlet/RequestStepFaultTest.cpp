// Faults at every step of a camera request: a step policy wraps the request's own steps and fails
// step N (resolve, connect, TLS handshake, write, read head, read body) with a chosen error instead
// of running it, for every N until the request runs through. Each run checks the error the caller
// sees, that its callback runs exactly once, that nothing is left running on the io_context and
// that the operation is freed. The peer is in-process, on the same io_context: no thread, no
// process, so a run is deterministic.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "Nuvlet/include/AsyncHttp.h"
#include "tools/camsim/SelfSignedCert.h"

namespace {

using Talvo::http::AsyncRequestSteps;
using Step = AsyncRequestSteps::Step;
namespace net = boost::asio;

// Which step fails, with what; the steps the request started, in order.
struct FaultPlan {
  size_t failAt = 0;  // 1: the first step
  boost::system::error_code error;
  std::vector<Step> started;
};
FaultPlan* plan = nullptr;  // the running test's plan (one request at a time, on the test thread)

// The request's steps with step N replaced by its failure.
class FailingSteps {
 public:
  using Step = AsyncRequestSteps::Step;
  Step first() const { return real_.first(); }
  template <class Op>
  Step next(Step finished, Op& op) const {
    return real_.next(finished, op);
  }
  template <class Op>
  void run(Step step, Op& op) {
    plan->started.push_back(step);
    if (plan->started.size() == plan->failAt) return op.completeStepLater(plan->error);
    real_.run(step, op);
  }

 private:
  AsyncRequestSteps real_;
};

using FaultyGet = Talvo::http::AsyncComplexOperation<FailingSteps, Talvo::http::detail::AsyncGetExContext,
                                                     Talvo::http::AsyncRequestCodesMap>;

// A camera on 127.0.0.1 that runs on the request's io_context: accepts one connection, (for TLS
// shakes hands,) reads the request head and writes `answer`. stop() ends whatever it waits for.
class LoopbackCamera {
 public:
  LoopbackCamera(net::io_context& io, bool tls, std::string answer)
      : acceptor_(io, net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), 0)),
        tlsSettings_(net::ssl::context::tls_server),
        answer_(std::move(answer)) {
    if (tls) camsim::useSelfSignedCertificate(tlsSettings_);
    acceptor_.async_accept([this, tls](const boost::system::error_code& error, net::ip::tcp::socket socket) {
      if (error) return;
      stream_.emplace(std::move(socket), tlsSettings_);
      if (!tls) return readRequest(stream_->next_layer());
      stream_->async_handshake(net::ssl::stream_base::server, [this](const boost::system::error_code& e) {
        if (!e) readRequest(*stream_);
      });
    });
  }
  uint16_t port() const { return acceptor_.local_endpoint().port(); }
  void stop() {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    if (stream_) stream_->lowest_layer().close(ignored);
  }

 private:
  template <class Stream>
  void readRequest(Stream& stream) {
    net::async_read_until(stream, request_, "\r\n\r\n", [this, &stream](const boost::system::error_code& e, size_t) {
      if (e) return;
      net::async_write(stream, net::buffer(answer_), [](const boost::system::error_code&, size_t) {});
    });
  }

  net::ip::tcp::acceptor acceptor_;
  net::ssl::context tlsSettings_;
  std::optional<net::ssl::stream<net::ip::tcp::socket>> stream_;
  net::streambuf request_;
  const std::string answer_;
};

struct RequestRun {
  httptest::Outcome outcome;
  std::vector<Step> started;
  bool clean = false;  // the io_context ran out of work, the sockets are closed, the operation is freed
};

RequestRun runRequest(const std::string& scheme, const std::string& answer, size_t failAt,
                      boost::system::error_code error) {
  FaultPlan faults{failAt, error, {}};
  plan = &faults;
  net::io_context io;
  LoopbackCamera camera(io, scheme == "https", answer);
  RequestRun run;
  auto operation = std::make_shared<FaultyGet>(
      io, Talvo::http::detail::AsyncGetExContext(httptest::localCamera(camera.port(), "", "", scheme), "/x"),
      [&](const boost::system::error_code& e, const Talvo::http::Body& body, const Talvo::http::HttpResponse& r) {
        httptest::recordInto(run.outcome)(e, body, r);
        camera.stop();
      },
      nullptr, boost::posix_time::seconds(10));
  operation->start();
  io.run_for(std::chrono::seconds(20));  // a hang guard; the run ends when the work does
  const bool closed =
      !operation->sockets().socket.is_open() && !operation->sockets().tlsStream.lowest_layer().is_open();
  std::weak_ptr<FaultyGet> weak = operation;
  operation.reset();
  run.clean = io.stopped() && closed && weak.expired();
  run.started = faults.started;
  plan = nullptr;
  return run;
}

// The error each step fails with in the first pass; every step also fails with the end of stream.
const std::map<Step, boost::system::error_code> kTypicalError = {{Step::Resolve, net::error::host_not_found},
                                                                 {Step::Connect, net::error::connection_refused},
                                                                 {Step::Handshake, net::ssl::error::stream_truncated},
                                                                 {Step::Write, net::error::broken_pipe},
                                                                 {Step::ReadHead, net::error::connection_reset},
                                                                 {Step::ReadBody, net::error::timed_out},
                                                                 {Step::Done, net::error::timed_out}};

struct Chain {
  const char* name;
  const char* scheme;
  const char* answer;
  std::vector<Step> steps;  // the steps of a request that runs through
  int status;               // the caller's error when it runs through: 0 or the answer's status
};

class StepFaultTest : public ::testing::TestWithParam<Chain> {};

TEST_P(StepFaultTest, EveryStepFailsWithItsErrorAndCallsBackOnce) {
  const Chain chain = GetParam();
  for (const bool endOfStream : {false, true}) {
    size_t n = 1;
    for (;; ++n) {
      SCOPED_TRACE("step " + std::to_string(n) + (endOfStream ? " fails with eof" : " fails with its error"));
      const Step failing = n <= chain.steps.size() ? chain.steps[n - 1] : Step::Done;
      const boost::system::error_code injected = endOfStream ? net::error::eof : kTypicalError.at(failing);
      const RequestRun run = runRequest(chain.scheme, chain.answer, n, injected);
      EXPECT_EQ(run.outcome.calls, 1);
      EXPECT_TRUE(run.clean);
      if (run.started.size() < n) {  // nothing left to fail: the request ran through
        EXPECT_EQ(run.started, chain.steps);
        EXPECT_EQ(run.outcome.error.value(), chain.status);
        EXPECT_EQ(run.outcome.bodyText(), "hello");
        break;
      }
      EXPECT_EQ(run.started.back(), failing);
      // The end of the camera's stream is an unusable answer (256) wherever it happens; other
      // errors reach the caller as they are.
      EXPECT_EQ(run.outcome.error, Talvo::http::AsyncRequestCodesMap::translate(Step::Resolve, injected))
          << run.outcome.error.message();
      EXPECT_TRUE(run.outcome.body.empty()) << "a broken answer has no body";
    }
    EXPECT_EQ(n, chain.steps.size() + 1) << "every step was failed once";
  }
}

const char* const kGood = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
// A status error is kept while the body is read: a failing body read still wins.
const char* const kServerError = "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\n\r\nhello";

const std::vector<Step> kPlain{Step::Resolve, Step::Connect, Step::Write, Step::ReadHead, Step::ReadBody};
const std::vector<Step> kTls{Step::Resolve, Step::Connect,  Step::Handshake,
                             Step::Write,   Step::ReadHead, Step::ReadBody};
INSTANTIATE_TEST_SUITE_P(PlainAndTls, StepFaultTest,
                         ::testing::Values(Chain{"plain", "http", kGood, kPlain, 0},
                                           Chain{"error_status", "http", kServerError, kPlain, 500},
                                           Chain{"tls", "https", kGood, kTls, 0}),
                         [](const ::testing::TestParamInfo<Chain>& info) { return std::string(info.param.name); });

}  // namespace
