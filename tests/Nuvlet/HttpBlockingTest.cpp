// The blocking helpers (httpGet, syncHttpGet, HttpSession, connectHTTP) against the scripted peer
// on 127.0.0.1; the Basic authorisation is checked on the wire here and in HttpTest.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/system/system_error.hpp>

#include "CapturingLogger.h"
#include "HttpTestSupport.h"
#include "RawPeer.h"
#include "host/Nuvlet/HttpBlocking.h"

using namespace std::chrono_literals;
using boost::system::error_code;
using httptest::head;
using httptest::localCamera;

namespace {

TEST(HttpBlocking, HttpGetReturnsTheTranslatedCode) {
  RawPeer ok({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok")});
  EXPECT_EQ(0, Talvo::http::httpGet(localCamera(ok.port()), "/a", nullptr, boost::posix_time::seconds(5)));
  EXPECT_EQ(std::string::npos, ok.lastRequest().find("Authorization")) << "no user, no authorisation";

  RawPeer missing({RawPeer::send(head("HTTP/1.1 404 Not Found", "Content-Length: 0\r\n"))});
  EXPECT_EQ(404, Talvo::http::httpGet(localCamera(missing.port()), "/a", nullptr, boost::posix_time::seconds(5)));

  RawPeer silent({RawPeer::stall()});
  EXPECT_EQ(110, Talvo::http::httpGet(localCamera(silent.port()), "/a", nullptr, boost::posix_time::millisec(300)));

  EXPECT_EQ(111,
            Talvo::http::httpGet(localCamera(httptest::closedPort()), "/a", nullptr, boost::posix_time::seconds(5)));
}

TEST(HttpBlocking, SyncHttpGetFillsReplyAndHeadersAndLogsWhenVerbose) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 5\r\nX-Camera: VX\r\n") + "hello")});
  CapturingLogger logger(0);
  std::string reply;
  Talvo::http::HttpHeaders headers;
  EXPECT_EQ(0, Talvo::http::syncHttpGet(localCamera(peer.port(), "u", "topsecret"), "/control/control?read&pw=1",
                                        &logger, reply, headers, true));
  EXPECT_EQ("hello", reply);
  ASSERT_EQ(1u, headers.count("x-camera"));
  EXPECT_EQ("VX", headers.find("X-CAMERA")->second);
  EXPECT_EQ(0u, peer.lastRequest().find("GET /control/control?read&pw=1 HTTP/1.1\r\n"));
  EXPECT_TRUE(logger.contains(" syncHttpGet GET http://127.0.0.1:" + std::to_string(peer.port()) + "/control/control"))
      << logger.dump();
  for (const std::string& message : logger.messages()) EXPECT_EQ(std::string::npos, message.find("topsecret"));

  RawPeer refused({RawPeer::send(head("HTTP/1.1 401 Unauthorized", "Content-Length: 6\r\n") + "denied")});
  EXPECT_EQ(401, Talvo::http::syncHttpGet(localCamera(refused.port()), "/a", nullptr, reply, headers, false));
  EXPECT_EQ("denied", reply);
}

TEST(HttpSession, AnswersOfAnyStatusCountAsReadGarbageDoesNot) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 404 Not Found", "Content-Length: 4\r\n") + "nope")});
  Talvo::http::HttpSession session(localCamera(peer.port()), nullptr, 5);
  Talvo::http::HttpResponse response;
  std::string body;
  error_code error;
  EXPECT_TRUE(session.get("/first", response, body, error));
  EXPECT_EQ(404, response.status);
  EXPECT_EQ("nope", body);
  EXPECT_EQ(error_code(404, Talvo::http::http_category()), error);

  const Talvo::http::HttpRequest post{"POST", "/second", {{"Content-Type", "text/plain"}}, "data"};
  EXPECT_TRUE(session.send(post, response, body, error));
  const std::vector<std::string> requests = peer.requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(0u, requests[0].find("GET /first HTTP/1.1\r\n"));
  EXPECT_EQ(0u, requests[1].find("POST /second HTTP/1.1\r\n"));
  EXPECT_NE(std::string::npos, requests[1].find("\r\nContent-Length: 4\r\n"));

  RawPeer garbage({RawPeer::send("garbage\r\n\r\n")});
  Talvo::http::HttpSession broken(localCamera(garbage.port()), nullptr, 5);
  EXPECT_FALSE(broken.get("/a", response, body, error));
  EXPECT_EQ(Talvo::error::make_error_code(Talvo::error::bad_response), error);
}

// ---------------------------------------------------------------------------------------------
// connectHTTP: the video connection's blocking connect on the worker's own io_context

TEST(ConnectHttp, WritesTheRequestLineHostAndAuthorization) {
  RawPeer peer({RawPeer::send("HTTP/1.0 200 OK\r\n\r\n"), RawPeer::stall()});
  boost::asio::io_context context;
  boost::asio::ip::tcp::socket socket(context);
  boost::asio::streambuf buffer;
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

  // The same io_context serves a second connect after the first (restart of a stopped context).
  boost::asio::ip::tcp::socket second(context);
  Talvo::asio::connectHTTP(second, buffer, "/x", localCamera(peer.port()), boost::posix_time::seconds(5));
  EXPECT_TRUE(second.is_open());
}

// Every video worker connects on an io_context of its own: a lookup there would start a
// resolver thread per stream. An address needs none; a name is looked up on the worker itself.
TEST(ConnectHttp, StartsNoResolverThread) {
  RawPeer peer({RawPeer::stall()});
  for (const char* host : {"127.0.0.1", "localhost"}) {
    boost::asio::io_context context;  // kept, as a worker keeps its own
    boost::asio::ip::tcp::socket socket(context);
    boost::asio::streambuf buffer;
    Talvo::asio::ConnectionInfo camera = localCamera(peer.port());
    camera.host = host;
    const size_t before = httptest::threadCount();
    try {
      Talvo::asio::connectHTTP(socket, buffer, "/x", camera, boost::posix_time::seconds(5));
    } catch (const boost::system::system_error& e) {
      // "localhost" may name ::1 first, where nothing listens; the lookup is what counts here.
      EXPECT_STREQ("localhost", host) << e.what();
    }
    EXPECT_EQ(before, httptest::threadCount()) << host;
  }
}

// HTTPS is refused before connecting; a closed port is refused; a camera that does not accept (a
// listener whose backlog is full: further connection attempts get no answer) times out.
TEST(ConnectHttp, RefusesHttpsAndThrowsConnectErrors) {
  boost::asio::io_context context;
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
      {localCamera(httptest::closedPort()), boost::asio::error::connection_refused},
      {localCamera(full.local_endpoint().port()), boost::asio::error::timed_out}};
  for (const auto& [camera, expected] : cases) {
    boost::asio::ip::tcp::socket socket(context);
    boost::asio::streambuf buffer;
    try {
      Talvo::asio::connectHTTP(socket, buffer, "/a", camera, boost::posix_time::millisec(300));
      ADD_FAILURE() << "connectHTTP returned for " << expected.message();
    } catch (const boost::system::system_error& e) {
      EXPECT_EQ(expected, e.code());
    }
    EXPECT_TRUE(expected != boost::asio::error::timed_out || !socket.is_open()) << "a timed-out connect is closed";
  }
}

}  // namespace
