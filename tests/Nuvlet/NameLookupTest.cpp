// Camera requests by host name: they share the process's lookup threads instead of starting a
// resolver thread per io_context, a hanging lookup ends with the request's time-out, and an
// io_context may go away while its lookup hangs.
#include "host/Nuvlet/NameLookup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>

#include "HttpTestSupport.h"
#include "RawPeer.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/Http.h"

using namespace std::chrono_literals;
using httptest::Outcome;
using Talvo::asio::LookupResults;
using Talvo::asio::LookupThreads;

namespace {

// A lookup that answers only when the test lets it.
class HeldLookup {
 public:
  LookupThreads::Resolve resolve() {
    return [this](const std::string&, const std::string& port, boost::system::error_code&) {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return released_; });
      return LookupResults::create(boost::asio::ip::tcp::endpoint(boost::asio::ip::address_v4::loopback(),
                                                                  static_cast<unsigned short>(std::stoi(port))),
                                   "camera.test", port);
    };
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;
};

Talvo::asio::ConnectionInfo namedCamera(uint16_t port, const std::string& host) {
  Talvo::asio::ConnectionInfo info = httptest::localCamera(port);
  info.host = host;
  return info;
}

TEST(NameLookup, RequestsOnManyIoContextsShareTheLookupThreads) {
  RawPeer peer({RawPeer::send(httptest::head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok")});
  constexpr int kContexts = 12;
  std::vector<std::unique_ptr<boost::asio::io_context>> contexts;
  std::vector<Outcome> outcomes(kContexts);
  std::vector<Talvo::http::AsyncOperationPtr> operations(kContexts);
  const std::size_t before = httptest::threadCount();
  for (int i = 0; i < kContexts; ++i) {
    contexts.push_back(std::make_unique<boost::asio::io_context>());
    Talvo::http::asyncGetEx(namedCamera(peer.port(), "localhost"), "/x", *contexts.back(), 5,
                            httptest::recordInto(outcomes[i]), operations[i], nullptr);
  }
  std::vector<std::thread> runners;
  for (auto& context : contexts) runners.emplace_back([&context] { httptest::runToEnd(*context); });
  for (auto& runner : runners) runner.join();
  // The io_contexts are still alive: a resolver thread of each would still be there.
  const std::size_t grown = httptest::threadCount() - before;
  for (int i = 0; i < kContexts; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(outcomes[i].calls, 1);
    EXPECT_FALSE(outcomes[i].error) << outcomes[i].error.message();
    EXPECT_EQ(outcomes[i].bodyText(), "ok");
  }
  EXPECT_LE(grown, static_cast<std::size_t>(LookupThreads::kLookupThreads)) << "grown " << grown;
}

// Starts a lookup owned by its own handler, as a request's operation is: only the io_context's
// end can release it.
void startOwnedLookup(boost::asio::io_context& context, const std::shared_ptr<int>& alive, bool& called) {
  auto lookup = std::make_shared<Talvo::asio::NameLookup>(context);
  lookup->start("camera.test", 80,
                [lookup, alive, &called](const boost::system::error_code&, LookupResults) { called = true; });
}

// A hanging lookup ends with the request's time-out; io_contexts may go away while their lookups
// hang or wait behind a hanging one; an unknown name fails.
TEST(NameLookup, HangingLookupsEndWithTheRequestTimeOutOrTheirIoContext) {
  HeldLookup held;
  auto threads = std::make_shared<LookupThreads>(1, held.resolve());
  auto alive = std::make_shared<int>(0);
  bool called = false;
  {
    boost::asio::io_context context, queuedBehind;  // the second waits for the thread the held lookup occupies
    Talvo::asio::useLookupThreads(context, threads);
    Talvo::asio::useLookupThreads(queuedBehind, threads);
    Outcome hanging;
    Talvo::http::AsyncOperationPtr operation;
    Talvo::http::asyncGetEx(namedCamera(9, "camera.test"), "/x", context, 1, httptest::recordInto(hanging), operation,
                            nullptr);
    httptest::runToEnd(context);
    EXPECT_EQ(hanging.calls, 1);
    EXPECT_EQ(hanging.error, boost::system::error_code(boost::asio::error::timed_out)) << hanging.error.message();
    context.restart();
    startOwnedLookup(context, alive, called);
    startOwnedLookup(queuedBehind, alive, called);
    context.poll();
    EXPECT_EQ(alive.use_count(), 3);
  }
  EXPECT_FALSE(called);
  EXPECT_EQ(alive.use_count(), 1);  // both handlers were destroyed with their io_contexts
  held.release();
  threads.reset();  // waits for the released lookups, which find their io_contexts gone

  const Outcome unknown = httptest::get(namedCamera(80, "no-such-camera.invalid"), "/x");
  EXPECT_EQ(unknown.calls, 1);
  EXPECT_EQ(Talvo::Utility::translateSystemError(unknown.error), EHOSTUNREACH) << unknown.error.message();
}

}  // namespace
