// AsyncMultiRequest: order of the requests and their callbacks, the final code, cancelling.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>

#include "HttpTestSupport.h"
#include "RawPeer.h"
#include "host/Nuvlet/HttpMultiRequest.h"

using namespace std::chrono_literals;
using boost::system::error_code;
using httptest::head;
using httptest::localCamera;
using Talvo::Utility::AsyncMultiRequest;

namespace {

std::string requestLine(const std::string& request) { return request.substr(0, request.find("\r\n")); }

// Records, in order, which callback ran and with which error.
struct Journal {
  std::vector<std::string> events;
  AsyncMultiRequest::RequestCallback note(const std::string& name) {
    return [this, name](const error_code& error, const Talvo::http::Body& body, const Talvo::http::HttpResponse&) {
      events.push_back(name + ":" + std::to_string(error.value()) + ":" + std::string(body.begin(), body.end()));
    };
  }
};

TEST(AsyncMultiRequest, RunsInOrderWithAddedRequestsLast) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok")});
  boost::asio::io_context context;
  Journal journal;
  auto batch = AsyncMultiRequest::create(localCamera(peer.port()), context);
  batch->addGetRequest(
      "/a", 5, [&](const error_code& error, const Talvo::http::Body& body, const Talvo::http::HttpResponse& response) {
        journal.note("a")(error, body, response);
        batch->addGetRequest("/added", 5, journal.note("added"));  // from a callback: after /b and /c
      });
  batch->addGetRequest("/b", 5, journal.note("b"));
  batch->addGetRequest("/c", 5, journal.note("c"));
  int finals = 0;
  error_code finalError = boost::asio::error::would_block;
  batch->start([&](const error_code& error) {
    ++finals;
    finalError = error;
    journal.events.push_back("final");
  });
  EXPECT_TRUE(journal.events.empty()) << "nothing runs inside start()";
  httptest::runToEnd(context);

  EXPECT_EQ((std::vector<std::string>{"a:0:ok", "b:0:ok", "c:0:ok", "added:0:ok", "final"}), journal.events);
  EXPECT_EQ(1, finals);
  EXPECT_FALSE(finalError);
  std::vector<std::string> lines;
  for (const std::string& request : peer.requests()) lines.push_back(requestLine(request));
  EXPECT_EQ((std::vector<std::string>{"GET /a HTTP/1.1", "GET /b HTTP/1.1", "GET /c HTTP/1.1", "GET /added HTTP/1.1"}),
            lines);
}

TEST(AsyncMultiRequest, FinalGetsTheFirstErrorLaterRequestsStillRunAnEmptyBatchSucceeds) {
  RawPeer peer({RawPeer::send(head("HTTP/1.1 404 Not Found", "Content-Length: 0\r\n"))});
  boost::asio::io_context context;
  Journal journal;
  auto batch = AsyncMultiRequest::create(localCamera(peer.port()), context);
  batch->addGetRequest("/bad target", 5, journal.note("bad"));   // cannot be written: 265
  batch->addGetRequest("/missing", 5, journal.note("missing"));  // 404
  error_code finalError;
  batch->start([&](const error_code& error) { finalError = error; });
  httptest::runToEnd(context);

  EXPECT_EQ((std::vector<std::string>{"bad:265:", "missing:404:"}), journal.events);
  EXPECT_EQ(Talvo::error::make_error_code(Talvo::error::bad_request), finalError);
  ASSERT_EQ(1u, peer.requests().size());
  EXPECT_EQ("GET /missing HTTP/1.1", requestLine(peer.lastRequest()));

  finalError = boost::asio::error::would_block;  // an empty batch ends with success
  AsyncMultiRequest::create(localCamera(peer.port()), context)->start([&](const error_code& e) { finalError = e; });
  context.restart();
  httptest::runToEnd(context);
  EXPECT_FALSE(finalError);
}

TEST(AsyncMultiRequest, CancelFromAnotherThreadStopsTheBatch) {
  RawPeer peer({RawPeer::stall()});
  boost::asio::io_context context;
  auto work = boost::asio::make_work_guard(context);
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> events;
  auto note = [&](const std::string& name) {
    return [&, name](const error_code& error, const Talvo::http::Body&, const Talvo::http::HttpResponse&) {
      std::lock_guard<std::mutex> lock(mutex);
      events.push_back(name + ":" + error.message());
    };
  };
  auto batch = AsyncMultiRequest::create(localCamera(peer.port()), context);
  batch->addGetRequest("/a", 10, note("a"));
  batch->addGetRequest("/b", 10, note("b"));
  error_code finalError;
  int finals = 0;
  batch->start([&](const error_code& error) {
    std::lock_guard<std::mutex> lock(mutex);
    ++finals;
    finalError = error;
    changed.notify_all();
  });
  std::thread runner([&] { context.run(); });
  ASSERT_TRUE(peer.waitForConnections(1, 5s));
  batch->cancel();
  {
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, 5s, [&] { return finals > 0; }));
  }
  work.reset();
  runner.join();

  EXPECT_EQ(1, finals);
  EXPECT_EQ(error_code(boost::asio::error::operation_aborted), finalError);
  EXPECT_EQ((std::vector<std::string>{"a:" + error_code(boost::asio::error::operation_aborted).message()}), events);
  EXPECT_EQ(1u, peer.connectionCount());
}

}  // namespace
