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

std::vector<std::string> requestLines(const RawPeer& peer) {
  std::vector<std::string> lines;
  for (const std::string& request : peer.requests()) lines.push_back(request.substr(0, request.find("\r\n")));
  return lines;
}

// Records, in order, which callback ran with which error and body, and the final code; callbacks
// may come on the thread that runs the context while the test waits.
struct Journal {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> events;
  std::vector<error_code> finals;

  AsyncMultiRequest::RequestCallback note(const std::string& name) {
    return [this, name](const error_code& error, const Talvo::http::Body& body, const Talvo::http::HttpResponse&) {
      std::lock_guard<std::mutex> lock(mutex);
      events.push_back(name + ":" + std::to_string(error.value()) + ":" + std::string(body.begin(), body.end()));
    };
  }
  void start(AsyncMultiRequest& batch) {
    batch.start([this](const error_code& error) {
      std::lock_guard<std::mutex> lock(mutex);
      finals.push_back(error);
      changed.notify_all();
    });
  }
};

// A request that fails does not stop the batch; the final callback gets the first error.
TEST(AsyncMultiRequest, RunsInOrderWithAddedRequestsLastAndEndsWithTheFirstError) {
  RawPeer peer(RawPeer::Chooser([](const std::string& request) {
    return std::vector<RawPeer::Step>{request.rfind("GET /missing ", 0) == 0
                                          ? RawPeer::send(head("HTTP/1.1 404 Not Found", "Content-Length: 0\r\n"))
                                          : RawPeer::send(head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok")};
  }));
  boost::asio::io_context context;
  Journal journal;
  auto batch = AsyncMultiRequest::create(localCamera(peer.port()), context);
  batch->addGetRequest(
      "/a", 5, [&](const error_code& error, const Talvo::http::Body& body, const Talvo::http::HttpResponse& response) {
        journal.note("a")(error, body, response);
        batch->addGetRequest("/added", 5, journal.note("added"));  // from a callback: after the others
      });
  batch->addGetRequest("/bad target", 5, journal.note("bad"));  // cannot be written: 265
  batch->addGetRequest("/missing", 5, journal.note("missing"));
  batch->addGetRequest("/c", 5, journal.note("c"));
  journal.start(*batch);
  journal.start(*AsyncMultiRequest::create(localCamera(peer.port()), context));  // empty
  EXPECT_TRUE(journal.events.empty() && journal.finals.empty()) << "nothing runs inside start()";
  httptest::runToEnd(context);

  EXPECT_EQ((std::vector<std::string>{"a:0:ok", "bad:265:", "missing:404:", "c:0:ok", "added:0:ok"}), journal.events);
  ASSERT_EQ(2u, journal.finals.size());
  EXPECT_FALSE(journal.finals[0]) << "the empty batch ends at once, with success";
  EXPECT_EQ(Talvo::error::make_error_code(Talvo::error::bad_request), journal.finals[1]);
  EXPECT_EQ(
      (std::vector<std::string>{"GET /a HTTP/1.1", "GET /missing HTTP/1.1", "GET /c HTTP/1.1", "GET /added HTTP/1.1"}),
      requestLines(peer));
}

TEST(AsyncMultiRequest, CancelFromAnotherThreadStopsTheBatch) {
  RawPeer peer({RawPeer::stall()});
  boost::asio::io_context context;
  auto work = boost::asio::make_work_guard(context);
  Journal journal;
  auto batch = AsyncMultiRequest::create(localCamera(peer.port()), context);
  batch->addGetRequest("/a", 10, journal.note("a"));
  batch->addGetRequest("/b", 10, journal.note("b"));
  journal.start(*batch);
  std::thread runner([&] { context.run(); });
  ASSERT_TRUE(peer.waitForConnections(1, 5s));
  batch->cancel();
  {
    std::unique_lock<std::mutex> lock(journal.mutex);
    EXPECT_TRUE(journal.changed.wait_for(lock, 5s, [&] { return !journal.finals.empty(); }));
  }
  work.reset();
  runner.join();

  const error_code aborted = boost::asio::error::operation_aborted;
  EXPECT_EQ(std::vector<error_code>{aborted}, journal.finals);
  EXPECT_EQ((std::vector<std::string>{"a:" + std::to_string(aborted.value()) + ":"}), journal.events);
  EXPECT_EQ(1u, peer.connectionCount());
}

}  // namespace
