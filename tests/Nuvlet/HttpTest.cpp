// The asynchronous camera request (asyncGetEx / asyncPostEx) end to end over 127.0.0.1: what
// goes on the wire, how answers are framed and capped, time-outs and cancelling.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
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
#include "host/Nuvlet/Http.h"

using namespace std::chrono_literals;
using boost::system::error_code;
using httptest::head;
using httptest::localCamera;
using httptest::Outcome;
using Talvo::http::HttpHeaders;
using Talvo::http::HttpResponse;

namespace {

error_code talvo(Talvo::error::TalvoError code) { return Talvo::error::make_error_code(code); }
error_code httpStatus(int status) { return error_code(status, Talvo::http::http_category()); }

// ---------------------------------------------------------------------------------------------
// Answers of a scripted camera: status, framing and the body cap

struct AnswerCase {
  AnswerCase(const char* label, std::vector<RawPeer::Step> script, error_code error, std::string body,
             int translated = -1)
      : label(label), script(std::move(script)), error(error), body(std::move(body)), translated(translated) {}
  const char* label;
  std::vector<RawPeer::Step> script;
  error_code error;  // expected error
  std::string body;  // expected body; "#N" means N bytes
  int translated;    // the host's code, when checked
};

TEST(HttpAnswer, StatusFramingAndCapVariants) {
  const std::string ok = "HTTP/1.1 200 OK", cl10 = "Content-Length: 10\r\n", chunked = "Transfer-Encoding: chunked\r\n";
  const error_code bad = talvo(Talvo::error::bad_response), tooLarge = talvo(Talvo::error::response_too_large);
  const size_t cap = Talvo::http::kMaxBodySize;
  const AnswerCase cases[] = {
      AnswerCase("302 with body is good",
                 {RawPeer::send(head("HTTP/1.1 302 Found", "Location: /x\r\nContent-Length: 5\r\n") + "hello")}, {},
                 "hello", 0),
      // A 304 has no body, so nothing more is waited for although the camera keeps the connection.
      AnswerCase("304 is an error",
                 {RawPeer::send(head("HTTP/1.1 304 Not Modified", "Content-Length: 100\r\n")), RawPeer::stall()},
                 httpStatus(304), "", 304),
      AnswerCase("404 keeps its body",
                 {RawPeer::send(head("HTTP/1.1 404 Not Found", "Content-Length: 4\r\n") + "nope")}, httpStatus(404),
                 "nope", 404),
      AnswerCase("garbage status line", {RawPeer::send("<html>hello</html>\r\n\r\n")}, bad, "", 256),
      AnswerCase("closed inside the head", {RawPeer::send("HTTP/1.1 200 OK\r\nA: 1\r\n"), RawPeer::close()}, bad, ""),
      AnswerCase(
          "endless head",
          {RawPeer::send("HTTP/1.1 200 OK\r\nA: " + std::string(Talvo::http::kMaxHeadSize, 'x')), RawPeer::stall()},
          bad, ""),
      AnswerCase("200 with empty body", {RawPeer::send(head(ok, "Content-Length: 0\r\n")), RawPeer::stall()}, {}, "",
                 0),
      AnswerCase("Content-Length in pieces",
                 {RawPeer::send(head(ok, cl10) + "01234"), RawPeer::pause(30ms), RawPeer::send("56789EXTRA"),
                  RawPeer::stall()},
                 {}, "0123456789"),
      AnswerCase("Content-Length cut short", {RawPeer::send(head(ok, cl10) + "01234"), RawPeer::close()}, bad, ""),
      AnswerCase("contradictory lengths",
                 {RawPeer::send(head(ok, "Content-Length: 3\r\nContent-Length: 4\r\n") + "abcd")}, bad, ""),
      AnswerCase("chunked in pieces",
                 {RawPeer::send(head(ok, chunked) + "4\r\nWi"), RawPeer::pause(20ms),
                  RawPeer::send("ki\r\n5;x=1\r\npedia\r\n0\r\n"), RawPeer::pause(20ms), RawPeer::send("\r\n"),
                  RawPeer::stall()},
                 {}, "Wikipedia"),
      AnswerCase("malformed chunk", {RawPeer::send(head(ok, chunked) + "zz\r\nabc\r\n"), RawPeer::stall()}, bad, ""),
      AnswerCase("read to close",
                 {RawPeer::send(head("HTTP/1.0 200 OK") + "abc"), RawPeer::pause(20ms), RawPeer::send("def")}, {},
                 "abcdef"),
      // 17 MiB announced and nothing sent: the answer must end at once, not time out.
      AnswerCase("Content-Length over the cap",
                 {RawPeer::send(head(ok, "Content-Length: 17825792\r\n")), RawPeer::stall()}, tooLarge, "", 264),
      AnswerCase("read to close over the cap",
                 {RawPeer::send(head("HTTP/1.0 200 OK") + std::string(cap + 1, 'z')), RawPeer::stall()}, tooLarge, ""),
      AnswerCase("read to close at the cap", {RawPeer::send(head("HTTP/1.0 200 OK") + std::string(cap, 'z'))}, {},
                 "#" + std::to_string(cap)),
      AnswerCase("time-out inside the body", {RawPeer::send(head(ok, cl10) + "abc"), RawPeer::stall()},
                 error_code(boost::asio::error::timed_out), "", 110),
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.label);
    RawPeer peer(c.script);
    const Outcome outcome =
        httptest::get(localCamera(peer.port()), "/a", c.error == boost::asio::error::timed_out ? 1 : 30);
    EXPECT_EQ(1, outcome.calls);
    EXPECT_EQ(c.error, outcome.error) << outcome.error.message();
    if (c.body.rfind("#", 0) == 0)
      EXPECT_EQ(std::stoul(c.body.substr(1)), outcome.body.size());
    else
      EXPECT_EQ(c.body, outcome.bodyText());
    if (c.translated >= 0) {
      EXPECT_EQ(c.translated, Talvo::Utility::translateSystemError(outcome.error));
    }
  }
  RawPeer found({RawPeer::send(head("HTTP/1.1 302 Found", "Location: /x\r\nContent-Length: 0\r\n"))});
  const Outcome moved = httptest::get(localCamera(found.port()), "/a");
  EXPECT_EQ(302, moved.response.status);
  EXPECT_EQ("Found", moved.response.statusText);
  EXPECT_EQ("/x", moved.response.header("Location"));
  HttpResponse noStatus;
  EXPECT_EQ(10, Talvo::http::translateResponseError(noStatus));
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
      "GET /control/control?read&section=x HTTP/1.1\r\n"
      "Host: 127.0.0.1:" +
          port +
          "\r\n"
          "Connection: close\r\n"
          "Authorization: Basic YWRtaW46czNjcjp0\r\n"
          "User-Agent: Orsel.Vantrel/3.78\r\n\r\n",
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
    EXPECT_EQ(265, Talvo::Utility::translateSystemError(outcome.error));
  }
  EXPECT_EQ(0u, peer.connectionCount());
}

// ---------------------------------------------------------------------------------------------
// Time-out, cancel, late timers

TEST(HttpLifetime, TimeoutClosesTheRequestAndCallsBackOnce) {
  RawPeer peer({RawPeer::stall()});
  CapturingLogger logger(0);
  const Outcome outcome = httptest::get(localCamera(peer.port()), "/a", 1, &logger);
  EXPECT_EQ(1, outcome.calls);
  EXPECT_EQ(error_code(boost::asio::error::timed_out), outcome.error);
  EXPECT_EQ(110, Talvo::Utility::translateSystemError(outcome.error));

  size_t timeouts = 0;
  for (const CapturingLogger::Line& line : logger.lines()) {
    if (line.message.find("timeout") == std::string::npos) continue;
    ++timeouts;
    EXPECT_EQ(3, line.level);
    EXPECT_EQ("handleTimer", line.function);
    EXPECT_EQ("Nuvlet/include/AsyncComplexOperation", line.file);
    const std::string expected = " [aco 0x";
    EXPECT_EQ(0u, line.message.find(expected)) << line.message;
    EXPECT_EQ("] timeout", line.message.substr(line.message.size() - 9)) << line.message;
  }
  EXPECT_EQ(1u, timeouts) << logger.dump();
  EXPECT_EQ(1u, peer.connectionCount());
}

TEST(HttpLifetime, CancelFromAnotherThreadCallsBackOnceWithAborted) {
  RawPeer peer({RawPeer::stall()});
  boost::asio::io_context context;
  auto work = boost::asio::make_work_guard(context);
  std::mutex mutex;
  std::condition_variable called;
  int calls = 0;
  error_code seen;
  std::thread::id callbackThread;
  Talvo::http::AsyncOperationPtr operation;
  Talvo::http::asyncGetEx(
      localCamera(peer.port()), "/a", context, 10,
      [&](const error_code& error, const Talvo::http::Body&, const HttpResponse&) {
        std::lock_guard<std::mutex> lock(mutex);
        ++calls;
        seen = error;
        callbackThread = std::this_thread::get_id();
        called.notify_all();
      },
      operation);
  std::thread runner([&] { context.run(); });
  ASSERT_TRUE(peer.waitForConnections(1, 5s));
  operation->cancel();
  operation->cancel();  // a second cancel changes nothing
  {
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(called.wait_for(lock, 5s, [&] { return calls > 0; }));
  }
  work.reset();
  runner.join();  // returns once the operation's handlers are all gone
  EXPECT_EQ(1, calls);
  EXPECT_EQ(error_code(boost::asio::error::operation_aborted), seen);
  EXPECT_NE(std::this_thread::get_id(), callbackThread);
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

TEST(HttpLifetime, DroppingTheHandleDoesNotStopTheRequest) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok")});
  boost::asio::io_context context;
  Outcome outcome;
  {
    Talvo::http::AsyncOperationPtr operation;
    Talvo::http::asyncGetEx(localCamera(peer.port()), "/a", context, 5, httptest::recordInto(outcome), operation);
  }
  httptest::runToEnd(context);
  EXPECT_EQ(1, outcome.calls);
  EXPECT_EQ("ok", outcome.bodyText());
}

// ---------------------------------------------------------------------------------------------
// Against the camera simulator, over HTTP and HTTPS

// Most cameras are addressed by IP: a request to an address must not start Asio's resolver
// thread, which would live as long as the device's io_context.
TEST(HttpLifetime, AnAddressIsConnectedWithoutLookup) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 0\r\n"))});
  boost::asio::io_context context;  // kept, as a device keeps its own
  const size_t before = httptest::threadCount();
  Outcome outcome;
  Talvo::http::AsyncOperationPtr operation;
  Talvo::http::asyncGetEx(localCamera(peer.port()), "/a", context, 5, httptest::recordInto(outcome), operation);
  httptest::runToEnd(context);
  EXPECT_EQ(1, outcome.calls);
  EXPECT_FALSE(outcome.error) << outcome.error.message();
  EXPECT_EQ(before, httptest::threadCount());
}

TEST(HttpCamsim, PlainAndTlsRequestsWithAuthentication) {
  CamsimProcess camsim({"--user", "u", "--password", "p w"}, true);
  ASSERT_NE(0, camsim.httpsPort());

  const Outcome plain = httptest::get(localCamera(camsim.httpPort(), "u", "p w"), "/record/current.jpg");
  ASSERT_FALSE(plain.error) << plain.error.message();
  ASSERT_GE(plain.body.size(), 2u);
  EXPECT_EQ(0xFF, plain.body[0]);
  EXPECT_EQ(0xD8, plain.body[1]);

  // The camera's certificate is self-signed: accepted because verification is off by default.
  const Outcome secure = httptest::get(localCamera(camsim.httpsPort(), "u", "p w", "https"), "/record/current.jpg?x=1");
  ASSERT_FALSE(secure.error) << secure.error.message();
  EXPECT_EQ(200, secure.response.status);
  ASSERT_GE(secure.body.size(), 2u);
  EXPECT_EQ(0xFF, secure.body[0]);

  const Outcome refused = httptest::get(localCamera(camsim.httpsPort(), "u", "wrong", "https"), "/record/current.jpg");
  EXPECT_EQ(httpStatus(401), refused.error);

  EXPECT_TRUE(camsim.waitForRequest("/record/current.jpg?x=1", 1));
}

// A pinned certificate: its own fingerprint passes (written with colons or without), another
// one ends the request with 266 before anything is sent: a digit changed, or the certificate
// of a camera that made itself a new one (a simulator started afresh).
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
  EXPECT_EQ(httptest::get(pinnedAt(camsim, other), "/record/current.jpg").error, talvo(Talvo::error::certificate_mismatch));
  CamsimProcess renewed({}, true);
  EXPECT_EQ(httptest::get(pinnedAt(renewed, pinned), "/record/current.jpg").error,
            talvo(Talvo::error::certificate_mismatch));
  EXPECT_EQ(renewed.requestTargets().size(), 0u) << "nothing was sent to the other certificate";
}

}  // namespace
