// The asynchronous camera request (asyncGetEx / asyncPostEx) end to end over 127.0.0.1: what
// goes on the wire, how answers are framed and capped, time-outs and cancelling; the host's codes
// of the errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include "CamsimProcess.h"
#include "CapturingLogger.h"
#include "HttpTestSupport.h"
#include "Nuvlet/include/AsyncHttp.h"
#include "RawPeer.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/HttpCategory.h"
#include "host/Nuvlet/Http.h"

using namespace std::chrono_literals;
using boost::system::error_code;
using httptest::head;
using httptest::localCamera;
using httptest::Outcome;
using Talvo::http::HttpHeaders;
using Talvo::http::HttpResponse;

namespace {

const auto translate = &Talvo::Utility::translateSystemError;

error_code talvo(Talvo::error::TalvoError code) { return Talvo::error::make_error_code(code); }
error_code httpStatus(int status) { return error_code(status, Talvo::http::http_category()); }

// ---------------------------------------------------------------------------------------------
// Answers of a scripted camera: status, framing and the body cap

struct AnswerCase {
  const char* label;
  error_code error;  // expected error
  std::string body;  // expected body; "#N" means N bytes
  int translated;    // the host's code, when checked (-1: not)
  std::vector<RawPeer::Step> script;
};

TEST(HttpAnswer, StatusFramingAndCapVariants) {
  using P = RawPeer;
  const auto cl = [](size_t n) { return "Content-Length: " + std::to_string(n) + "\r\n"; };
  const std::string ok = "HTTP/1.1 200 OK", ok10 = "HTTP/1.0 200 OK\r\n\r\n", te = "Transfer-Encoding: chunked\r\n";
  const error_code bad = talvo(Talvo::error::bad_response), tooLarge = talvo(Talvo::error::response_too_large);
  const size_t cap = Talvo::http::kMaxBodySize, headCap = Talvo::http::kMaxHeadSize;
  const auto inPieces = [](const std::vector<std::string>& parts) {  // paused between; the connection kept
    std::vector<P::Step> steps;
    for (const std::string& part : parts) steps.insert(steps.end(), {P::send(part), P::pause(20ms)});
    steps.back() = P::stall();
    return steps;
  };
  const AnswerCase cases[] = {
      {"302 is good", {}, "hello", 0, {P::send(head("HTTP/1.1 302 Found", "Location: /x\r\n" + cl(5)) + "hello")}},
      // A 304 has no body, so nothing more is waited for although the camera keeps the connection.
      {"304 is an error", httpStatus(304), "", 304, {P::send(head("HTTP/1.1 304 Not Modified", cl(100))), P::stall()}},
      {"404 keeps its body", httpStatus(404), "nope", 404, {P::send(head("HTTP/1.1 404 Not Found", cl(4)) + "nope")}},
      {"garbage status line", bad, "", 256, {P::send("<html>hello</html>\r\n\r\n")}},
      {"closed inside the head", bad, "", -1, {P::send("HTTP/1.1 200 OK\r\nA: 1\r\n"), P::close()}},
      {"endless head", bad, "", -1, {P::send(ok + "\r\nA: " + std::string(headCap, 'x')), P::stall()}},
      {"200 with empty body", {}, "", 0, {P::send(head(ok, cl(0))), P::stall()}},
      {"length in pieces", {}, "0123456789", -1, inPieces({head(ok, cl(10)) + "01234", "56789EXTRA"})},
      {"length cut short", bad, "", -1, {P::send(head(ok, cl(10)) + "01234"), P::close()}},
      {"contradictory lengths", bad, "", -1, {P::send(head(ok, cl(3) + cl(4)) + "abcd")}},
      {"chunks", {}, "Wikipedia", -1, inPieces({head(ok, te) + "4\r\nWi", "ki\r\n5;x=1\r\npedia\r\n0\r\n", "\r\n"})},
      {"malformed chunk", bad, "", -1, {P::send(head(ok, te) + "zz\r\nabc\r\n"), P::stall()}},
      {"read to close", {}, "abcdef", -1, {P::send(ok10 + "abc"), P::pause(20ms), P::send("def")}},
      // 17 MiB announced and nothing sent: the answer must end at once, not time out.
      {"length over the cap", tooLarge, "", 264, {P::send(head(ok, cl(17825792))), P::stall()}},
      {"read to close over the cap", tooLarge, "", -1, {P::send(ok10 + std::string(cap + 1, 'z')), P::stall()}},
      {"read to close at the cap", {}, "#" + std::to_string(cap), -1, {P::send(ok10 + std::string(cap, 'z'))}},
      {"time-out in the body", boost::asio::error::timed_out, "", 110, {P::send(head(ok, cl(10)) + "abc"), P::stall()}},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.label);
    RawPeer peer(c.script);
    CapturingLogger logger(0);
    const bool timeout = c.error == boost::asio::error::timed_out;
    const Outcome outcome = httptest::get(localCamera(peer.port()), "/a", timeout ? 1 : 30, &logger);
    EXPECT_EQ(1, outcome.calls);
    EXPECT_EQ(c.error, outcome.error) << outcome.error.message();
    if (c.body.rfind("#", 0) == 0)
      EXPECT_EQ(std::stoul(c.body.substr(1)), outcome.body.size());
    else
      EXPECT_EQ(c.body, outcome.bodyText());
    if (c.translated >= 0) {
      EXPECT_EQ(c.translated, translate(outcome.error));
    }
    std::vector<std::string> timeouts;  // logged once, at level 3, by the operation's timer
    for (const CapturingLogger::Line& line : logger.lines())
      if (line.message.find("timeout") != std::string::npos)
        timeouts.push_back(std::to_string(line.level) + " " + line.function + " " + line.file +
                           std::regex_replace(line.message, std::regex("0x[0-9a-f]+"), "0x"));
    EXPECT_EQ(timeouts, std::vector<std::string>(
                            timeout ? 1 : 0, "3 handleTimer Nuvlet/include/AsyncComplexOperation [aco 0x] timeout"));
    if (c.translated == 0 && !c.body.empty()) {  // the 302
      EXPECT_EQ(302, outcome.response.status);
      EXPECT_EQ("Found", outcome.response.statusText);
      EXPECT_EQ("/x", outcome.response.header("Location"));
    }
  }
  EXPECT_EQ(10, Talvo::http::translateResponseError(HttpResponse()));
}

// ---------------------------------------------------------------------------------------------
// The request on the wire

TEST(HttpRequestBytes, GetCarriesHostCloseAndBasicAuthorization) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 0\r\n"))});
  CapturingLogger logger(0);
  const Outcome outcome =
      httptest::get(localCamera(peer.port(), "admin", "s3cr:t"), "/control/control?read&section=x", 5, &logger);
  ASSERT_FALSE(outcome.error) << outcome.error.message();
  const std::string port = std::to_string(peer.port());
  EXPECT_EQ(
      "GET /control/control?read&section=x HTTP/1.1\r\nHost: 127.0.0.1:" + port +
          "\r\nConnection: close\r\nAuthorization: Basic YWRtaW46czNjcjp0\r\nUser-Agent: Orsel.Vantrel/3.78\r\n\r\n",
      peer.lastRequest());
  // The log names the request, without its query and without the password.
  EXPECT_TRUE(logger.contains(" GET http://127.0.0.1:" + port + "/control/control")) << logger.dump();
  for (const std::string& message : logger.messages()) {
    EXPECT_EQ(std::string::npos, message.find("s3cr")) << message;
    EXPECT_EQ(std::string::npos, message.find("section=x")) << message;
    EXPECT_EQ(' ', message.at(0)) << message;
  }
}

TEST(HttpRequestBytes, PostCarriesContentTypeLengthAndBody) {
  // The peer records the head; the body follows it on the wire and is never read, so the peer
  // keeps the connection: closing with unread bytes would reset it under the client's feet.
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok"), RawPeer::stall()});
  boost::asio::io_context context;
  Outcome outcome;
  Talvo::http::AsyncOperationPtr operation;
  HttpHeaders headers{{"Content-Type", "application/json"}, {"Content-Length", "999"}};
  Talvo::http::asyncPostEx(localCamera(peer.port()), "/api/json/set", "{\"a\":1}", context, 5,
                           httptest::recordInto(outcome), headers, operation);
  ASSERT_TRUE(operation);
  httptest::runToEnd(context);
  EXPECT_FALSE(outcome.error) << outcome.error.message();
  EXPECT_EQ("ok", outcome.bodyText());
  const std::string request = peer.lastRequest();
  EXPECT_EQ(0u, request.find("POST /api/json/set HTTP/1.1\r\n")) << request;
  EXPECT_NE(std::string::npos, request.find("\r\nContent-Type: application/json\r\n")) << request;
  EXPECT_NE(std::string::npos, request.find("\r\nContent-Length: 7\r\n")) << request;
  EXPECT_EQ(std::string::npos, request.find("999")) << request;
}

TEST(HttpRequestBytes, UnusableRequestsEndWithBadRequestPosted) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 0\r\n"))});
  auto noHost = localCamera(peer.port());
  noHost.host.clear();
  struct Case {
    Talvo::asio::ConnectionInfo info;
    std::string uri;
    HttpHeaders headers;
  };
  for (const Case& c : {Case{noHost, "/a", {}}, Case{localCamera(peer.port()), "/a\r\nX-Injected: 1", {}},
                        Case{localCamera(peer.port()), "/a b", {}},
                        Case{localCamera(peer.port()), "/a", {{"X-Bad", "1\r\nX-Injected: 1"}}}}) {
    boost::asio::io_context context;
    Outcome outcome;
    Talvo::http::AsyncOperationPtr operation;
    Talvo::http::asyncPostEx(c.info, c.uri, "", context, 5, httptest::recordInto(outcome), c.headers, operation);
    EXPECT_TRUE(operation) << c.uri;
    EXPECT_EQ(0, outcome.calls) << "the callback must not run inside asyncPostEx";
    httptest::runToEnd(context);
    EXPECT_EQ(1, outcome.calls) << c.uri;
    EXPECT_EQ(talvo(Talvo::error::bad_request), outcome.error) << c.uri;
    EXPECT_EQ(265, translate(outcome.error));
  }
  EXPECT_EQ(0u, peer.connectionCount());
}

// ---------------------------------------------------------------------------------------------
// Time-out, cancel, late timers

TEST(HttpLifetime, CancelFromAnotherThreadCallsBackOnceWithAborted) {
  RawPeer peer({RawPeer::stall()});
  boost::asio::io_context context;
  auto work = boost::asio::make_work_guard(context);
  std::atomic<int> calls{0};
  std::promise<std::pair<error_code, std::thread::id>> first;
  Talvo::http::AsyncOperationPtr operation;
  Talvo::http::asyncGetEx(
      localCamera(peer.port()), "/a", context, 10,
      [&](const error_code& error, const Talvo::http::Body&, const HttpResponse&) {
        if (calls++ == 0) first.set_value({error, std::this_thread::get_id()});
      },
      operation);
  std::thread runner([&] { context.run(); });
  ASSERT_TRUE(peer.waitForConnections(1, 5s));
  operation->cancel();
  operation->cancel();  // a second cancel changes nothing
  auto seen = first.get_future();
  EXPECT_EQ(seen.wait_for(5s), std::future_status::ready);
  work.reset();
  runner.join();  // returns once the operation's handlers are all gone
  EXPECT_EQ(1, calls);
  const auto [error, thread] = seen.get();
  EXPECT_EQ(error_code(boost::asio::error::operation_aborted), error);
  EXPECT_NE(std::this_thread::get_id(), thread);
}

TEST(HttpLifetime, LateTimerAndCancelAfterCompletionChangeNothing) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok")});
  CapturingLogger logger(0);
  boost::asio::io_context context;
  Outcome outcome;
  Talvo::http::AsyncOperationPtr operation;
  Talvo::http::asyncGetEx(localCamera(peer.port()), "/a", context, 5, httptest::recordInto(outcome), operation,
                          &logger);
  httptest::runToEnd(context);
  ASSERT_EQ(1, outcome.calls);
  operation->cancel();
  // The timer's handler runs late, as when it was already queued when the answer completed;
  // and a cancelled timer's completion.
  auto timed = std::dynamic_pointer_cast<Talvo::http::GetOperation>(operation);
  ASSERT_TRUE(timed);
  boost::asio::post(context, [timed] {
    timed->handleTimer(error_code());
    timed->handleTimer(boost::asio::error::operation_aborted);
  });
  context.restart();
  httptest::runToEnd(context);
  EXPECT_EQ(0u, logger.count("timeout")) << logger.dump();
  EXPECT_EQ(1, outcome.calls);
  EXPECT_FALSE(outcome.error);
}

// Most cameras are addressed by IP: a request to an address must not start Asio's resolver
// thread, which would live as long as the device's io_context. The caller may drop its handle:
// the request runs on.
TEST(HttpLifetime, AnAddressIsConnectedWithoutLookupAndADroppedHandleDoesNotStopIt) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok")});
  boost::asio::io_context context;  // kept, as a device keeps its own
  const size_t before = httptest::threadCount();
  Outcome outcome;
  Talvo::http::AsyncOperationPtr operation;
  Talvo::http::asyncGetEx(localCamera(peer.port()), "/a", context, 5, httptest::recordInto(outcome), operation);
  operation.reset();
  httptest::runToEnd(context);
  EXPECT_EQ(1, outcome.calls);
  EXPECT_EQ("ok", outcome.bodyText());
  EXPECT_EQ(before, httptest::threadCount());
}

// ---------------------------------------------------------------------------------------------
// Against the camera simulator, over HTTP and HTTPS

// A pinned certificate: its own fingerprint passes (written with colons or without), another
// one ends the request with 266 before anything is sent: a digit changed, or the certificate
// of a camera that made itself a new one (a simulator started afresh). (A self-signed
// certificate without a pin passes: RequestStepFaultTest.)
TEST(HttpCamsim, OnlyThePinnedCertificatePasses) {
  CamsimProcess camsim({}, true);
  const std::string pinned = camsim.httpsFingerprint();
  ASSERT_EQ(pinned.size(), 95u) << pinned;
  const auto pinnedAt = [](const CamsimProcess& camera, const std::string& fingerprint) {
    return Talvo::asio::parseConnectionInfo("https://127.0.0.1:" + std::to_string(camera.httpsPort()) +
                                            "/?tls_fingerprint=" + fingerprint);
  };
  std::string bare = pinned;
  bare.erase(std::remove(bare.begin(), bare.end(), ':'), bare.end());
  for (const std::string& written : {pinned, bare}) {
    const Outcome good = httptest::get(pinnedAt(camsim, written), "/record/current.jpg");
    EXPECT_FALSE(good.error) << good.error.message();
  }
  std::string other = pinned;
  other[0] = other[0] == 'A' ? 'B' : 'A';
  EXPECT_EQ(httptest::get(pinnedAt(camsim, other), "/record/current.jpg").error,
            talvo(Talvo::error::certificate_mismatch));
  CamsimProcess renewed({}, true);
  EXPECT_EQ(httptest::get(pinnedAt(renewed, pinned), "/record/current.jpg").error,
            talvo(Talvo::error::certificate_mismatch));
  EXPECT_EQ(renewed.requestTargets().size(), 0u) << "nothing was sent to the other certificate";
}

// ---------------------------------------------------------------------------------------------
// The library's error category and the mapping of every category to the host's codes

class OtherCategory : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "other"; }
  std::string message(int) const override { return "other"; }
};

TEST(TranslateSystemErrorTest, MapsEachCategory) {
  static const OtherCategory other;
  namespace ae = boost::asio::error;
  EXPECT_EQ(translate({}), 0);
  EXPECT_EQ(translate(make_error_code(boost::system::errc::connection_refused)), 111);
  EXPECT_EQ(translate(ae::connection_refused), 111);
  EXPECT_EQ(translate(ae::operation_aborted), 125);
  EXPECT_EQ(translate(ae::eof), 104);
  EXPECT_EQ(translate(ae::host_not_found), 113);
  EXPECT_EQ(translate(boost::system::error_code(7, other)), 1);
  EXPECT_NE(translate(ae::already_open), 0);
}

}  // namespace
