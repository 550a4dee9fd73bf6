// Life cycle of the process-wide I/O service, and the Stopped notification delivered on it: once,
// never on the caller's thread, with or without the service, also when it ends right after posting.
#include "host/Nuvlet/GlobalService.h"
#include "host/Nuvlet/StopReport.h"
#include "TestChannels.h"

#include <gtest/gtest.h>

#include <boost/asio/post.hpp>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

using namespace Talvo::Utility;

// Runs `task` on the service; the future gives what it returned.
template <class Task>
auto onService(boost::asio::io_context& context, Task task) {
  // Shared: the handler may still be leaving set_value when the test goes on.
  auto result = std::make_shared<std::promise<decltype(task())>>();
  boost::asio::post(context, [result, task] { result->set_value(task()); });
  return result->get_future();
}

template <class T>
T waited(std::future<T> future) {
  EXPECT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  return future.get();
}

TEST(GlobalServiceTest, InstanceIsSharedWhileHeldAndANewOneWorksAfterTheLastRelease) {
  auto first = GlobalService::instance();
  EXPECT_EQ(GlobalService::instance(), first);
  EXPECT_EQ(GlobalService::current(), first);
  EXPECT_EQ(&GlobalService::get(), &first->ioContext());
  EXPECT_FALSE(first->runningInThisThread());
  EXPECT_TRUE(waited(onService(first->ioContext(), [&] { return first->runningInThisThread(); })));
  first.reset();
  EXPECT_EQ(GlobalService::current(), nullptr);
  EXPECT_THROW(GlobalService::get(), std::logic_error);
  const auto again = GlobalService::instance();
  EXPECT_EQ(waited(onService(again->ioContext(), [] { return 7; })), 7);
}

// Each handler waits for the other to come in: both meet only when two threads run the context.
TEST(GlobalServiceTest, RunsTwoHandlersAtOnce) {
  const auto service = GlobalService::instance();
  auto inside = std::make_shared<std::atomic<int>>(0);
  const auto meet = [inside] {
    ++*inside;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (*inside < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    return inside->load() == 2;
  };
  auto first = onService(service->ioContext(), meet), second = onService(service->ioContext(), meet);
  EXPECT_TRUE(waited(std::move(first)));
  EXPECT_TRUE(waited(std::move(second)));
}

// True when Stopped came once, from `source`, on another thread than the test's.
bool deliveredOnceElsewhere(const RecordingNoteHandler& recorder, Talvo::IContract* source) {
  if (!recorder.waitForStopped()) return false;
  const auto notes = recorder.notes();
  return notes.size() == 1 && notes[0].channel == source && notes[0].thread != std::this_thread::get_id();
}

// With a held service, without one, and (20 rounds) with a service whose last reference goes
// right after posting, so that it may end before the call ran.
TEST(ReportStopTest, DeliversOnceOnAnotherThreadWithOrWithoutALiveService) {
  RecordingActionHandler source;  // any contract
  for (int round = 0; round < 22; ++round) {
    const auto service = round == 0 ? GlobalService::instance() : nullptr;
    if (round < 2) ASSERT_EQ(GlobalService::current(), service);
    RecordingNoteHandler recorder;
    if (round < 2) {
      reportStop(&recorder, &source);
    } else {
      const auto ending = GlobalService::instance();
      reportStop(&recorder, &source);
    }
    reportStop(nullptr, &source);
    ASSERT_TRUE(deliveredOnceElsewhere(recorder, &source)) << "round " << round;
  }
}

}  // namespace
