// Camera requests end to end over 127.0.0.1 against the scripted raw peer: asyncGetEx / asyncPostEx,
// the blocking helpers and AsyncMultiRequest; the bytes on the wire, framing and caps, time-outs,
// cancelling, the host's error codes, shared name lookups, and faults injected at every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>

#include "CamsimProcess.h"
#include "CapturingLogger.h"
#include "Nuvlet/include/AsyncHttp.h"
#include "Nuvlet/include/ChunkedBodyDecoder.h"
#include "RawPeer.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/Http.h"
#include "host/Nuvlet/HttpBlocking.h"
#include "host/Nuvlet/HttpCategory.h"
#include "host/Nuvlet/HttpMultiRequest.h"
#include "host/Nuvlet/NameLookup.h"
#include "tools/camsim/SelfSignedCert.h"

using namespace std::chrono_literals;
using boost::system::error_code;
using Talvo::asio::LookupResults;
using Talvo::asio::LookupThreads;
using Talvo::http::HttpHeaders;
using Talvo::http::HttpResponse;
using Talvo::Utility::AsyncMultiRequest;

namespace {

// Camera connection data for 127.0.0.1, or for a host name.
Talvo::asio::ConnectionInfo localCamera(uint16_t port, const std::string& user = "", const std::string& password = "",
                                        const std::string& scheme = "http") {
  return {scheme, "127.0.0.1", port, user, password, "/", "", ""};
}
Talvo::asio::ConnectionInfo namedCamera(uint16_t port, const std::string& host) {
  return {"http", host, port, "", "", "/", "", ""};
}

// What the callback of one request received.
struct Outcome {
  int calls = 0;
  error_code error;
  Talvo::http::Body body;
  HttpResponse response;
  std::string bodyText() const { return std::string(body.begin(), body.end()); }
  Talvo::http::Callback record() {
    return [this](const error_code& e, const Talvo::http::Body& b, const HttpResponse& r) {
      *this = {calls + 1, e, b, r};
    };
  }
};

// The request's own time-out ends the run; the guard only keeps a broken build from hanging the suite.
void runToEnd(boost::asio::io_context& context) { context.run_for(60s); }

// A request run to its end on a private io_context.
Outcome get(const Talvo::asio::ConnectionInfo& info, const std::string& uri, int timeoutSeconds = 5,
            Talvo::ILogger* logger = nullptr) {
  boost::asio::io_context context;
  Outcome outcome;
  Talvo::http::AsyncOperationPtr operation;
  Talvo::http::asyncGetEx(info, uri, context, timeoutSeconds, outcome.record(), operation, logger);
  runToEnd(context);
  return outcome;
}

// A port on 127.0.0.1 where nothing listens (it was free a moment ago).
uint16_t closedPort() {
  boost::asio::io_context context;
  boost::asio::ip::tcp::acceptor acceptor(
      context, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
  return acceptor.local_endpoint().port();
}

// The threads of this process now. Asio's first name lookup on an io_context starts a resolver
// thread that lives as long as the io_context: a lookup that happened shows here.
size_t threadCount() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/task"), std::filesystem::directory_iterator());
}

std::string head(const std::string& statusLine, const std::string& headers = "") {
  return statusLine + "\r\n" + headers + "\r\n";
}

const auto translate = &Talvo::Utility::translateSystemError;
error_code talvo(Talvo::error::TalvoError code) { return Talvo::error::make_error_code(code); }
error_code httpStatus(int status) { return error_code(status, Talvo::http::http_category()); }
const std::string kOk2 = head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok";

// ---------------------------------------------------------------------------------------------
// Answers of a scripted camera: status, framing and the body cap

TEST(HttpAnswer, StatusFramingAndCapVariants) {
  using P = RawPeer;
  const auto cl = [](size_t n) { return "Content-Length: " + std::to_string(n) + "\r\n"; };
  const std::string ok = "HTTP/1.1 200 OK", ok10 = "HTTP/1.0 200 OK\r\n\r\n", te = "Transfer-Encoding: chunked\r\n";
  const error_code bad = talvo(Talvo::error::bad_response), tooLarge = talvo(Talvo::error::response_too_large);
  const size_t cap = Talvo::http::kMaxBodySize, headCap = Talvo::http::kMaxHeadSize;
  const std::string redirect = "Location:  /x \r\nX-A: 1\r\nx-a: 2\r\nEmpty:\r\n" + cl(5);
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += "H" + std::to_string(i) + ": v\r\n";
  const auto inPieces = [](const std::vector<std::string>& parts) {  // paused between; the connection kept
    std::vector<P::Step> steps;
    for (const std::string& part : parts) steps.insert(steps.end(), {P::send(part), P::pause(20ms)});
    steps.back() = P::stall();
    return steps;
  };
  // The expected error and body ("#N": N bytes); the host's code, also of the blocking helpers, when
  // checked (-1: not).
  const std::tuple<const char*, error_code, std::string, int, std::vector<P::Step>> cases[] = {
      {"302 is good", {}, "hello", 0, {P::send(head("HTTP/1.1 302 Found", redirect) + "hello")}},
      {"status without text", {}, "", 0, {P::send("HTTP/1.0 200\r\n\r\n")}},
      {"100 header lines", {}, "", 0, {P::send(head(ok, hundred))}},
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
  for (const auto& [label, expected, expectedBody, translated, script] : cases) {
    SCOPED_TRACE(label);
    RawPeer peer(script);
    CapturingLogger logger(0);
    const bool timeout = expected == boost::asio::error::timed_out;
    const Outcome outcome = get(localCamera(peer.port()), "/a", timeout ? 1 : 30, &logger);
    EXPECT_EQ(1, outcome.calls);
    EXPECT_EQ(expected, outcome.error) << outcome.error.message();
    if (expectedBody.rfind("#", 0) == 0)
      EXPECT_EQ(std::stoul(expectedBody.substr(1)), outcome.body.size());
    else
      EXPECT_EQ(expectedBody, outcome.bodyText());
    if (translated >= 0) {  // the blocking helpers see the same
      EXPECT_EQ(translated, translate(outcome.error));
      EXPECT_EQ(translated, Talvo::http::httpGet(localCamera(peer.port()), "/a", nullptr,
                                                 boost::posix_time::seconds(timeout ? 1 : 30)));
      Talvo::http::HttpSession session(localCamera(peer.port()), nullptr, timeout ? 1 : 30);
      HttpResponse response;
      std::string body;
      error_code error;
      EXPECT_EQ(session.get("/a", response, body, error), !expected || expected.category() == httpStatus(0).category())
          << "answers of any status count as read";
      EXPECT_EQ(expected, error);
    }
    EXPECT_EQ(std::string::npos, peer.lastRequest().find("Authorization")) << "no user, no authorisation";
    std::vector<std::string> timeouts;  // logged once, at level 3, by the operation's timer
    for (const CapturingLogger::Line& line : logger.lines())
      if (line.message.find("timeout") != std::string::npos)
        timeouts.push_back(std::to_string(line.level) + " " + line.function + " " + line.file +
                           std::regex_replace(line.message, std::regex("0x[0-9a-f]+"), "0x"));
    EXPECT_EQ(timeouts, std::vector<std::string>(
                            timeout ? 1 : 0, "3 handleTimer Nuvlet/include/AsyncComplexOperation [aco 0x] timeout"));
    if (translated == 0 && !expectedBody.empty()) {  // the 302: headers trimmed, found without case
      bool found = false;
      EXPECT_EQ(std::to_string(outcome.response.status) + outcome.response.statusText +
                    outcome.response.header("location") + std::to_string(outcome.response.headers.count("X-A")) +
                    outcome.response.header("Empty", &found),
                "302Found/x2");
      EXPECT_TRUE(found);
      EXPECT_EQ("", outcome.response.header("Missing", &found));
      EXPECT_FALSE(found);
    }
  }
  // Heads that are not HTTP: malformed status lines, folded or bad header lines, too many lines.
  for (const std::string& text : std::vector<std::string>{
           "HTTP/1.1 200 OK\n\n", "HTTP/11 200 OK\r\n\r\n", "HTTP/1.1 20 OK\r\n\r\n", "HTTP/1.1 2000 OK\r\n\r\n",
           "HTTP/1.1 abc OK\r\n\r\n", "HTTX/1.1 200 OK\r\n\r\n", "HTTP/1.1  200 OK\r\n\r\n",
           "HTTP/1.1 200 O\x01K\r\n\r\n", head(ok, "A: 1\r\n continued\r\n"), head(ok, "Bad Name: 1\r\n"),
           head(ok, "A : 1\r\n"), head(ok, ": 1\r\n"), head(ok, "NoColon\r\n"), head(ok, "A: 1\nB: 2\r\n"),
           head(ok, "A: x\x7fy\r\n"), head(ok, hundred + "H100: v\r\n")}) {
    RawPeer peer({P::send(text)});
    EXPECT_EQ(get(localCamera(peer.port()), "/a").error, bad) << text;
  }
  EXPECT_EQ(10, Talvo::http::translateResponseError(HttpResponse()));
  EXPECT_EQ(111, Talvo::http::httpGet(localCamera(closedPort()), "/a", nullptr, boost::posix_time::seconds(5)));
}

// Chunked bodies at the unit: every split of the bytes, malformed lines and the body cap.
using Decoder = Talvo::http::detail::ChunkedBodyDecoder;

TEST(ChunkedBodyDecoder, DecodesAcrossAnySplit) {
  const std::string wire =
      "4\r\nWiki\r\n5;name=value\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nTrailer: x\r\n\r\nNEXT";
  for (size_t split = 1; split < wire.size(); ++split) {
    Decoder decoder;
    Talvo::http::Body body;
    size_t used = 0;
    Decoder::Result result = decoder.feed(wire.data(), split, used, body, 1000);
    size_t taken = used;
    if (result == Decoder::Result::NeedMore) {
      ASSERT_EQ(split, used);
      result = decoder.feed(wire.data() + split, wire.size() - split, used, body, 1000);
      taken += used;
    }
    ASSERT_EQ(Decoder::Result::Done, result) << split;
    EXPECT_EQ(wire.size() - 4, taken) << "what follows the body stays unread";
    EXPECT_EQ("Wikipedia in\r\n\r\nchunks.", std::string(body.begin(), body.end()));
  }
}

TEST(ChunkedBodyDecoder, RejectsMalformedAndOversizedChunks) {
  auto decode = [](const std::string& wire, size_t cap) {
    Decoder decoder;
    Talvo::http::Body body;
    size_t used = 0;
    return decoder.feed(wire.data(), wire.size(), used, body, cap);
  };
  for (const std::string wire : {"zz\r\n", "\r\n", "4 x\r\n", "4\nWiki\r\n", "4\r\nWikiXX0\r\n\r\n"})
    EXPECT_EQ(Decoder::Result::Malformed, decode(wire, 100)) << wire;
  EXPECT_EQ(Decoder::Result::Malformed, decode(std::string(5000, '1'), 1u << 30));
  for (const std::string& wire : std::vector<std::string>{"65\r\n", "ffffffffffffffffffffffff\r\n",
                                                          "32\r\n" + std::string(50, 'a') + "\r\n33\r\n"})
    EXPECT_EQ(Decoder::Result::TooLarge, decode(wire, 100)) << wire;
}

// ---------------------------------------------------------------------------------------------
// The request on the wire

// asyncGetEx, and the blocking syncHttpGet, which fills the reply and headers and logs when verbose.
TEST(HttpRequestBytes, GetCarriesHostCloseAndBasicAuthorization) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 5\r\nX-Camera: VX\r\n") + "hello")});
  CapturingLogger logger(0);
  const auto camera = localCamera(peer.port(), "admin", "s3cr:t");
  const Outcome outcome = get(camera, "/control/control?read&section=x", 5, &logger);
  ASSERT_FALSE(outcome.error) << outcome.error.message();
  const std::string port = std::to_string(peer.port());
  EXPECT_EQ(
      "GET /control/control?read&section=x HTTP/1.1\r\nHost: 127.0.0.1:" + port +
          "\r\nConnection: close\r\nAuthorization: Basic YWRtaW46czNjcjp0\r\nUser-Agent: Orsel.Vantrel/3.78\r\n\r\n",
      peer.lastRequest());
  std::string reply;
  HttpHeaders headers;
  EXPECT_EQ(0, Talvo::http::syncHttpGet(camera, "/control/control?read&section=x", &logger, reply, headers, true));
  EXPECT_EQ("hello", reply);
  ASSERT_EQ(1u, headers.count("x-camera"));
  EXPECT_EQ("VX", headers.find("X-CAMERA")->second);
  EXPECT_EQ(peer.requests()[0], peer.lastRequest());
  // The log names the request, without its query and without the password.
  EXPECT_TRUE(logger.contains(" GET http://127.0.0.1:" + port + "/control/control")) << logger.dump();
  EXPECT_TRUE(logger.contains(" syncHttpGet GET http://127.0.0.1:" + port + "/control/control")) << logger.dump();
  for (const std::string& message : logger.messages()) {
    EXPECT_EQ(std::string::npos, message.find("s3cr")) << message;
    EXPECT_EQ(std::string::npos, message.find("section=x")) << message;
    EXPECT_EQ(' ', message.at(0)) << message;
  }
  RawPeer refused({RawPeer::send(head("HTTP/1.1 401 Unauthorized", "Content-Length: 6\r\n") + "denied")});
  EXPECT_EQ(401, Talvo::http::syncHttpGet(localCamera(refused.port()), "/a", nullptr, reply, headers, false));
  EXPECT_EQ("denied", reply);
  // A session sends any request; its answers, of any status, count as read (more: the answer table).
  Talvo::http::HttpSession session(localCamera(refused.port()), nullptr, 5);
  HttpResponse response;
  error_code error;
  EXPECT_TRUE(session.send({"POST", "/second", {{"Content-Type", "text/plain"}}, "data"}, response, reply, error));
  EXPECT_EQ(std::to_string(response.status) + reply, "401denied");
  EXPECT_EQ(httpStatus(401), error);
  EXPECT_EQ(0u, refused.lastRequest().find("POST /second HTTP/1.1\r\n"));
  EXPECT_NE(std::string::npos, refused.lastRequest().find("\r\nContent-Length: 4\r\n"));
}

// A request to an address (most cameras) must not start Asio's resolver thread, which would live
// as long as the device's io_context. The caller may drop its handle: the request runs on.
TEST(HttpRequestBytes, PostCarriesContentTypeLengthAndBodyWithoutLookupOrHandle) {
  // The peer keeps the connection: closing with unread bytes would reset it under the client's feet.
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok"), RawPeer::stall()});
  boost::asio::io_context context;  // kept, as a device keeps its own
  const size_t before = threadCount();
  Outcome outcome;
  Talvo::http::AsyncOperationPtr operation;
  HttpHeaders headers{{"Content-Type", "application/json"}, {"Content-Length", "999"}};
  Talvo::http::asyncPostEx(localCamera(peer.port()), "/api/json/set", "{\"a\":1}", context, 5, outcome.record(),
                           headers, operation);
  ASSERT_TRUE(operation);
  operation.reset();
  runToEnd(context);
  EXPECT_EQ(1, outcome.calls);
  EXPECT_FALSE(outcome.error) << outcome.error.message();
  EXPECT_EQ("ok", outcome.bodyText());
  EXPECT_EQ(before, threadCount());
  const std::string request = peer.lastRequest();  // the head, and the body if it came in the same read
  EXPECT_EQ(0u, request.find("POST /api/json/set HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(peer.port()) +
                             "\r\nConnection: close\r\nUser-Agent: Orsel.Vantrel/3.78\r\n"
                             "Content-Type: application/json\r\nContent-Length: 7\r\n\r\n"))
      << request;
}

TEST(HttpRequestBytes, UnusableRequestsEndWithBadRequestPosted) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 0\r\n"))});
  using Case = std::tuple<Talvo::asio::ConnectionInfo, std::string, HttpHeaders>;
  for (const auto& [info, uri, headers] :
       {Case{namedCamera(peer.port(), ""), "/a", {}}, Case{localCamera(peer.port()), "/a\r\nX-Injected: 1", {}},
        Case{localCamera(peer.port()), "/a b", {}},
        Case{localCamera(peer.port()), "/a", {{"X-Bad", "1\r\nX-Injected: 1"}}}}) {
    boost::asio::io_context context;
    Outcome outcome;
    Talvo::http::AsyncOperationPtr operation;
    Talvo::http::asyncPostEx(info, uri, "", context, 5, outcome.record(), headers, operation);
    EXPECT_TRUE(operation) << uri;
    EXPECT_EQ(0, outcome.calls) << "the callback must not run inside asyncPostEx";
    runToEnd(context);
    EXPECT_EQ(1, outcome.calls) << uri;
    EXPECT_EQ(talvo(Talvo::error::bad_request), outcome.error) << uri;
    EXPECT_EQ(265, translate(outcome.error));
  }
  EXPECT_EQ(0u, peer.connectionCount());
}

// ---------------------------------------------------------------------------------------------
// Cancel and late timers. A Journal records, in order, the callbacks (error and body, thread) and
// the final codes; callbacks come on the thread that runs the context while the test waits.
struct Journal {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> events;
  std::vector<error_code> finals;
  std::vector<std::thread::id> threads;

  AsyncMultiRequest::RequestCallback note(const std::string& name) {
    return [this, name](const error_code& error, const Talvo::http::Body& body, const HttpResponse&) {
      std::lock_guard<std::mutex> lock(mutex);
      events.push_back(name + ":" + std::to_string(error.value()) + ":" + std::string(body.begin(), body.end()));
      threads.push_back(std::this_thread::get_id());
      changed.notify_all();
    };
  }
  void start(AsyncMultiRequest& batch) {
    batch.start([this](const error_code& error) {
      std::lock_guard<std::mutex> lock(mutex);
      finals.push_back(error);
      changed.notify_all();
    });
  }
  bool waitFor(size_t eventCount, size_t finalCount) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, 5s, [&] { return events.size() >= eventCount && finals.size() >= finalCount; });
  }
};

// A single request and a batch, cancelled from the test thread while the camera is silent: each
// callback runs once, on the context's thread, with "aborted"; the batch starts no more requests.
TEST(HttpLifetime, CancelFromAnotherThreadCallsBackOnceWithAborted) {
  RawPeer peer({RawPeer::stall()}), batchPeer({RawPeer::stall()});  // a peer serves one connection at a time
  boost::asio::io_context context;
  auto work = boost::asio::make_work_guard(context);
  Journal journal;
  Talvo::http::AsyncOperationPtr operation;
  Talvo::http::asyncGetEx(localCamera(peer.port()), "/a", context, 10, journal.note("single"), operation);
  auto batch = AsyncMultiRequest::create(localCamera(batchPeer.port()), context);
  batch->addGetRequest("/a", 10, journal.note("a"));
  batch->addGetRequest("/b", 10, journal.note("b"));
  journal.start(*batch);
  std::thread runner([&] { context.run(); });
  EXPECT_TRUE(peer.waitForConnections(1, 5s) && batchPeer.waitForConnections(1, 5s));
  operation->cancel();
  operation->cancel();  // a second cancel changes nothing
  batch->cancel();
  EXPECT_TRUE(journal.waitFor(2, 1));
  work.reset();
  runner.join();  // returns once the operations' handlers are all gone
  const error_code aborted = boost::asio::error::operation_aborted;
  const std::string a = ":" + std::to_string(aborted.value()) + ":";
  std::sort(journal.events.begin(), journal.events.end());
  EXPECT_EQ(journal.events, (std::vector<std::string>{"a" + a, "single" + a}));
  EXPECT_EQ(std::vector<error_code>{aborted}, journal.finals);
  for (const std::thread::id& thread : journal.threads) EXPECT_NE(std::this_thread::get_id(), thread);
  EXPECT_EQ(1u, batchPeer.connectionCount());
}

TEST(HttpLifetime, LateTimerAndCancelAfterCompletionChangeNothing) {
  RawPeer peer({RawPeer::send(kOk2)});
  CapturingLogger logger(0);
  boost::asio::io_context context;
  Outcome outcome;
  Talvo::http::AsyncOperationPtr operation;
  Talvo::http::asyncGetEx(localCamera(peer.port()), "/a", context, 5, outcome.record(), operation, &logger);
  runToEnd(context);
  ASSERT_EQ(1, outcome.calls);
  operation->cancel();
  // The timer's handler runs late (queued as the answer completed), and a cancelled timer's completion.
  auto timed = std::dynamic_pointer_cast<Talvo::http::GetOperation>(operation);
  ASSERT_TRUE(timed);
  boost::asio::post(context, [timed] {
    timed->handleTimer(error_code());
    timed->handleTimer(boost::asio::error::operation_aborted);
  });
  context.restart();
  runToEnd(context);
  EXPECT_EQ(0u, logger.count("timeout")) << logger.dump();
  EXPECT_EQ(1, outcome.calls);
  EXPECT_FALSE(outcome.error);
}

// ---------------------------------------------------------------------------------------------
// Batches: a request that fails does not stop the batch; the final callback gets the first error.

TEST(AsyncMultiRequest, RunsInOrderWithAddedRequestsLastAndEndsWithTheFirstError) {
  RawPeer peer(RawPeer::Chooser([](const std::string& request) {
    return std::vector<RawPeer::Step>{request.rfind("GET /missing ", 0) == 0
                                          ? RawPeer::send(head("HTTP/1.1 404 Not Found", "Content-Length: 0\r\n"))
                                          : RawPeer::send(kOk2)};
  }));
  boost::asio::io_context context;
  Journal journal;
  auto batch = AsyncMultiRequest::create(localCamera(peer.port()), context);
  batch->addGetRequest("/a", 5, [&](const error_code& error, const Talvo::http::Body& body, const HttpResponse& r) {
    journal.note("a")(error, body, r);
    batch->addGetRequest("/added", 5, journal.note("added"));  // from a callback: after the others
  });
  batch->addGetRequest("/bad target", 5, journal.note("bad"));  // cannot be written: 265
  batch->addGetRequest("/missing", 5, journal.note("missing"));
  batch->addGetRequest("/c", 5, journal.note("c"));
  journal.start(*batch);
  journal.start(*AsyncMultiRequest::create(localCamera(peer.port()), context));  // empty
  EXPECT_TRUE(journal.events.empty() && journal.finals.empty()) << "nothing runs inside start()";
  runToEnd(context);

  EXPECT_EQ((std::vector<std::string>{"a:0:ok", "bad:265:", "missing:404:", "c:0:ok", "added:0:ok"}), journal.events);
  EXPECT_EQ(journal.finals, (std::vector<error_code>{{}, talvo(Talvo::error::bad_request)}))
      << "the empty batch ends at once, with success";
  std::vector<std::string> lines;
  for (const std::string& request : peer.requests()) lines.push_back(request.substr(0, request.find("\r\n")));
  EXPECT_EQ(lines, (std::vector<std::string>{"GET /a HTTP/1.1", "GET /missing HTTP/1.1", "GET /c HTTP/1.1",
                                             "GET /added HTTP/1.1"}));
}

// ---------------------------------------------------------------------------------------------
// connectHTTP: the video connection's blocking connect on the worker's own io_context. A lookup
// there would start a resolver thread per stream: an address needs none, a name is looked up on
// the worker itself.
TEST(ConnectHttp, WritesTheRequestWithoutAResolverThreadAndThrowsConnectErrors) {
  RawPeer peer({RawPeer::send("HTTP/1.0 200 OK\r\n\r\n"), RawPeer::stall()});
  boost::asio::io_context context;  // kept, as a worker keeps its own
  boost::asio::ip::tcp::socket socket(context);
  boost::asio::streambuf buffer;
  const size_t threads = threadCount();
  Talvo::asio::connectHTTP(socket, buffer, "/control/faststream.jpg?stream=full", localCamera(peer.port(), "u", "p"),
                           boost::posix_time::seconds(5));
  EXPECT_TRUE(socket.is_open());
  EXPECT_EQ(0u, buffer.size());
  // The caller reads the answer into the same buffer; the peer answers once it recorded the head.
  boost::asio::read_until(socket, buffer, "\r\n\r\n");
  EXPECT_EQ("HTTP/1.0 200 OK\r\n\r\n",
            std::string(boost::asio::buffers_begin(buffer.data()), boost::asio::buffers_end(buffer.data())));
  EXPECT_EQ("GET /control/faststream.jpg?stream=full HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(peer.port()) +
                "\r\nAuthorization: Basic dTpw\r\nUser-Agent: Orsel.Vantrel/3.78\r\n\r\n",
            peer.lastRequest());

  // The same io_context serves a second connect after the first (restart of a stopped context),
  // to a name ("localhost" may name ::1 first, where nothing listens).
  boost::asio::ip::tcp::socket second(context);
  EXPECT_NO_THROW(Talvo::asio::connectHTTP(second, buffer, "/x", namedCamera(peer.port(), "localhost"),
                                           boost::posix_time::seconds(5)));
  EXPECT_TRUE(second.is_open());
  EXPECT_EQ(threads, threadCount());

  // HTTPS is refused before connecting; a closed port is refused; a camera that does not accept (a
  // listener whose backlog is full: further connection attempts get no answer) times out.
  boost::asio::ip::tcp::acceptor full(context);
  const boost::asio::ip::tcp::endpoint local(boost::asio::ip::make_address("127.0.0.1"), 0);
  full.open(local.protocol());
  full.bind(local);
  full.listen(0);
  // The fillers' connects start at once and stay pending: their context never runs.
  boost::asio::io_context fillerContext;
  std::vector<std::unique_ptr<boost::asio::ip::tcp::socket>> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(std::make_unique<boost::asio::ip::tcp::socket>(fillerContext));
    fillers.back()->async_connect(full.local_endpoint(), [](const error_code&) {});
  }
  const std::pair<Talvo::asio::ConnectionInfo, error_code> cases[] = {
      {localCamera(443, "", "", "https"), boost::asio::error::operation_not_supported},
      {localCamera(closedPort()), boost::asio::error::connection_refused},
      {localCamera(full.local_endpoint().port()), boost::asio::error::timed_out}};
  for (const auto& [camera, expected] : cases) {
    boost::asio::ip::tcp::socket attempt(context);
    boost::asio::streambuf unused;
    try {
      Talvo::asio::connectHTTP(attempt, unused, "/a", camera, boost::posix_time::millisec(300));
      ADD_FAILURE() << "connectHTTP returned for " << expected.message();
    } catch (const boost::system::system_error& e) {
      EXPECT_EQ(expected, e.code());
    }
    EXPECT_TRUE(expected != boost::asio::error::timed_out || !attempt.is_open()) << "a timed-out connect is closed";
  }
}

// ---------------------------------------------------------------------------------------------
// Against the camera simulator, over HTTPS. A pinned certificate: its own fingerprint passes (with
// colons or without), another one ends the request with 266 before anything is sent: a digit
// changed, or a camera that made itself a new certificate (a simulator started afresh). (A
// self-signed certificate without a pin passes: StepFaultTest below.)
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
  for (const std::string& written : {pinned, bare})
    EXPECT_EQ(get(pinnedAt(camsim, written), "/record/current.jpg").error, error_code()) << written;
  std::string other = pinned;
  other[0] = other[0] == 'A' ? 'B' : 'A';
  EXPECT_EQ(get(pinnedAt(camsim, other), "/record/current.jpg").error, talvo(Talvo::error::certificate_mismatch));
  CamsimProcess renewed({}, true);
  EXPECT_EQ(get(pinnedAt(renewed, pinned), "/record/current.jpg").error, talvo(Talvo::error::certificate_mismatch));
  EXPECT_EQ(renewed.requestTargets().size(), 0u) << "nothing was sent to the other certificate";
}

// The mapping of every error category to the host's codes.
struct OtherCategory : boost::system::error_category {
  const char* name() const noexcept override { return "other"; }
  std::string message(int) const override { return "other"; }
};

TEST(TranslateSystemErrorTest, MapsEachCategory) {
  static const OtherCategory other;
  namespace ae = boost::asio::error;
  const error_code systemRefused = make_error_code(boost::system::errc::connection_refused);
  const std::pair<error_code, int> cases[] = {
      {{}, 0},        {systemRefused, 111},      {ae::connection_refused, 111}, {ae::operation_aborted, 125},
      {ae::eof, 104}, {ae::host_not_found, 113}, {error_code(7, other), 1}};
  for (const auto& [error, code] : cases) EXPECT_EQ(translate(error), code) << error.message();
  EXPECT_NE(translate(ae::already_open), 0);
}

// ---------------------------------------------------------------------------------------------
// Camera requests by host name: they share the process's lookup threads instead of starting a
// resolver thread per io_context, a hanging lookup ends with the request's time-out, and an
// io_context may go away while its lookup hangs.

TEST(NameLookup, RequestsOnManyIoContextsShareTheLookupThreads) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok")});
  constexpr int kContexts = 12;
  std::vector<std::unique_ptr<boost::asio::io_context>> contexts;
  std::vector<Outcome> outcomes(kContexts);
  std::vector<Talvo::http::AsyncOperationPtr> operations(kContexts);
  const std::size_t before = threadCount();
  for (int i = 0; i < kContexts; ++i) {
    contexts.push_back(std::make_unique<boost::asio::io_context>());
    Talvo::http::asyncGetEx(namedCamera(peer.port(), "localhost"), "/x", *contexts.back(), 5, outcomes[i].record(),
                            operations[i], nullptr);
  }
  std::vector<std::thread> runners;
  for (auto& context : contexts) runners.emplace_back([&context] { runToEnd(*context); });
  for (auto& runner : runners) runner.join();
  // The io_contexts are still alive: a resolver thread of each would still be there.
  const std::size_t grown = threadCount() - before;
  for (const Outcome& outcome : outcomes)  // calls, error, body
    EXPECT_EQ(std::to_string(outcome.calls) + " " + outcome.error.message() + " " + outcome.bodyText(), "1 Success ok");
  EXPECT_LE(grown, static_cast<std::size_t>(LookupThreads::kLookupThreads)) << "grown " << grown;
}

// A hanging lookup ends with the request's time-out; io_contexts may go away while their lookups
// hang or wait behind a hanging one; an unknown name fails.
TEST(NameLookup, HangingLookupsEndWithTheRequestTimeOutOrTheirIoContext) {
  std::promise<void> release;  // the lookup answers only when the test lets it
  auto threads = std::make_shared<LookupThreads>(
      1, [held = release.get_future().share()](const std::string&, const std::string& port, error_code&) {
        held.wait();
        return LookupResults::create(boost::asio::ip::tcp::endpoint(boost::asio::ip::address_v4::loopback(),
                                                                    static_cast<unsigned short>(std::stoi(port))),
                                     "camera.test", port);
      });
  auto alive = std::make_shared<int>(0);
  bool called = false;
  {
    boost::asio::io_context context, queuedBehind;  // the second waits for the thread the held lookup occupies
    Talvo::asio::useLookupThreads(context, threads);
    Talvo::asio::useLookupThreads(queuedBehind, threads);
    Outcome hanging;
    Talvo::http::AsyncOperationPtr operation;
    Talvo::http::asyncGetEx(namedCamera(9, "camera.test"), "/x", context, 1, hanging.record(), operation, nullptr);
    runToEnd(context);
    EXPECT_EQ(hanging.calls, 1);
    EXPECT_EQ(hanging.error, error_code(boost::asio::error::timed_out)) << hanging.error.message();
    context.restart();
    // Lookups owned by their own handlers, as a request's operation is: only the io_context's end frees them.
    for (boost::asio::io_context* owner : {&context, &queuedBehind}) {
      auto lookup = std::make_shared<Talvo::asio::NameLookup>(*owner);
      lookup->start("camera.test", 80, [lookup, alive, &called](const error_code&, LookupResults) { called = true; });
    }
    context.poll();
    EXPECT_EQ(alive.use_count(), 3);
  }
  EXPECT_FALSE(called);
  EXPECT_EQ(alive.use_count(), 1);  // both handlers were destroyed with their io_contexts
  release.set_value();
  threads.reset();  // waits for the released lookups, which find their io_contexts gone

  const Outcome unknown = get(namedCamera(80, "no-such-camera.invalid"), "/x");
  EXPECT_EQ(unknown.calls, 1);
  EXPECT_EQ(Talvo::Utility::translateSystemError(unknown.error), EHOSTUNREACH) << unknown.error.message();
}

// ---------------------------------------------------------------------------------------------
// Faults at every step of a camera request: step N fails with a chosen error instead of running,
// for every N until the request runs through. Each run checks the caller's error, that its callback
// runs once, that nothing is left on the io_context and that the operation is freed. The camera is
// in-process, on the same io_context: no thread, no process, so a run is deterministic.

using Talvo::http::AsyncRequestSteps;
using Step = AsyncRequestSteps::Step;
namespace net = boost::asio;

// The running test's fault (one request at a time, on the test thread): step `failAt` (1: the first)
// fails with `failWith`; `started` lists the steps the request started, in order.
size_t failAt = 0;
error_code failWith;
std::vector<Step> started;

// The request's steps with step `failAt` replaced by its failure.
struct FailingSteps : AsyncRequestSteps {
  template <class Op>
  void run(Step step, Op& op) {
    started.push_back(step);
    if (started.size() == failAt) return op.completeStepLater(failWith);
    AsyncRequestSteps::run(step, op);
  }
};

using FaultyGet = Talvo::http::AsyncComplexOperation<FailingSteps, Talvo::http::detail::AsyncGetExContext,
                                                     Talvo::http::AsyncRequestCodesMap>;

// The request against a camera on its io_context that accepts one connection, (for TLS shakes
// hands,) reads the request head and writes `answer`; the callback closes what it still waits on.
// `clean`: the io_context ran out of work, the sockets are closed, the operation is freed.
Outcome runRequest(const std::string& scheme, const std::string& answer, size_t n, error_code error, bool& clean) {
  failAt = n;
  failWith = error;
  started.clear();
  net::io_context io;
  net::ip::tcp::acceptor acceptor(io, net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
  net::ssl::context tlsSettings(net::ssl::context::tls_server);
  if (scheme == "https") camsim::useSelfSignedCertificate(tlsSettings);
  std::optional<net::ssl::stream<net::ip::tcp::socket>> stream;
  net::streambuf request;
  const auto readAndAnswer = [&](auto& from) {
    net::async_read_until(from, request, "\r\n\r\n", [&](const error_code& e, size_t) {
      if (!e) net::async_write(from, net::buffer(answer), [](const error_code&, size_t) {});
    });
  };
  acceptor.async_accept([&](const error_code& acceptError, net::ip::tcp::socket socket) {
    if (acceptError) return;
    stream.emplace(std::move(socket), tlsSettings);
    if (scheme == "http") return readAndAnswer(stream->next_layer());
    stream->async_handshake(net::ssl::stream_base::server, [&](const error_code& e) {
      if (!e) readAndAnswer(*stream);
    });
  });
  Outcome outcome;
  auto operation = std::make_shared<FaultyGet>(
      io, Talvo::http::detail::AsyncGetExContext(localCamera(acceptor.local_endpoint().port(), "", "", scheme), "/x"),
      [&](const error_code& e, const Talvo::http::Body& body, const HttpResponse& r) {
        outcome.record()(e, body, r);
        error_code ignored;
        acceptor.close(ignored);
        if (stream) stream->lowest_layer().close(ignored);
      },
      nullptr, boost::posix_time::seconds(10));
  operation->start();
  io.run_for(20s);  // a hang guard; the run ends when the work does
  const bool closed =
      !operation->sockets().socket.is_open() && !operation->sockets().tlsStream.lowest_layer().is_open();
  std::weak_ptr<FaultyGet> weak = operation;
  operation.reset();
  clean = io.stopped() && closed && weak.expired();
  return outcome;
}

// The error each step (Resolve, Connect, Handshake, Write, ReadHead, ReadBody, Done) fails with in the
// first pass; every step also fails with the end of stream.
const error_code kTypicalError[] = {
    net::error::host_not_found, net::error::connection_refused, net::ssl::error::stream_truncated,
    net::error::broken_pipe,    net::error::connection_reset,   net::error::timed_out,
    net::error::timed_out};

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
      const error_code injected = endOfStream ? net::error::eof : kTypicalError[static_cast<size_t>(failing)];
      bool clean = false;
      const Outcome outcome = runRequest(chain.scheme, chain.answer, n, injected, clean);
      EXPECT_EQ(outcome.calls, 1);
      EXPECT_TRUE(clean);
      if (started.size() < n) {  // nothing left to fail: the request ran through
        EXPECT_EQ(started, chain.steps);
        EXPECT_EQ(outcome.error.value(), chain.status);
        EXPECT_EQ(outcome.bodyText(), "hello");
        break;
      }
      EXPECT_EQ(started.back(), failing);
      // The end of the camera's stream is an unusable answer (256) wherever it happens; other
      // errors reach the caller as they are.
      EXPECT_EQ(outcome.error, Talvo::http::AsyncRequestCodesMap::translate(Step::Resolve, injected))
          << outcome.error.message();
      EXPECT_TRUE(outcome.body.empty()) << "a broken answer has no body";
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
