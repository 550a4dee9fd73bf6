// Life cycle of the process-wide I/O service, and the Stopped notification delivered on it: once,
// never on the caller's thread, with or without the service, also when it ends right after posting.
#include "host/Nuvlet/GlobalService.h"
#include "host/Nuvlet/StopReport.h"
#include "TestChannels.h"

#include <gtest/gtest.h>

#include <boost/asio/post.hpp>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

using namespace Talvo::Utility;

// Runs `task` on the service and returns what it returned; fails the test past the deadline.
template <class Task>
auto runOnService(boost::asio::io_context& context, Task task) {
  // Shared: the handler may still be leaving set_value when the test goes on.
  auto result = std::make_shared<std::promise<decltype(task())>>();
  auto future = result->get_future();
  boost::asio::post(context, [result, task] { result->set_value(task()); });
  EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  return future.get();
}

TEST(GlobalServiceTest, InstanceIsSharedWhileHeld) {
  const auto first = GlobalService::instance();
  const auto second = GlobalService::instance();
  EXPECT_EQ(first, second);
  EXPECT_EQ(GlobalService::current(), first);
  EXPECT_EQ(&GlobalService::get(), &first->ioContext());
  EXPECT_FALSE(first->runningInThisThread());
  EXPECT_TRUE(runOnService(first->ioContext(), [&] { return first->runningInThisThread(); }));
}

TEST(GlobalServiceTest, ReleasedServiceEndsAndANewOneWorks) {
  GlobalService::instance().reset();
  EXPECT_EQ(GlobalService::current(), nullptr);
  EXPECT_THROW(GlobalService::get(), std::logic_error);
  const auto again = GlobalService::instance();
  EXPECT_EQ(runOnService(again->ioContext(), [] { return 7; }), 7);
}

TEST(GlobalServiceTest, RunsTwoHandlersAtOnce) {
  const auto service = GlobalService::instance();
  // Each handler waits for the other: this ends only when two threads run the context.
  struct Meeting {
    std::promise<void> firstIn, secondIn;
    std::promise<bool> bothMet;
  };
  auto meeting = std::make_shared<Meeting>();
  auto met = meeting->bothMet.get_future();
  auto secondSeen = meeting->secondIn.get_future().share();
  auto firstSeen = meeting->firstIn.get_future().share();
  boost::asio::post(service->ioContext(), [meeting, secondSeen] {
    meeting->firstIn.set_value();
    meeting->bothMet.set_value(secondSeen.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
  });
  boost::asio::post(service->ioContext(), [meeting, firstSeen] {
    meeting->secondIn.set_value();
    firstSeen.wait_for(std::chrono::seconds(10));
  });
  ASSERT_EQ(met.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_TRUE(met.get());
}

// True when Stopped came once, from `source`, on another thread than the test's.
bool deliveredOnceElsewhere(const RecordingNoteHandler& recorder, Talvo::IContract* source) {
  if (!recorder.waitForStopped()) return false;
  const auto notes = recorder.notes();
  return notes.size() == 1 && notes[0].channel == source && notes[0].thread != std::this_thread::get_id();
}

TEST(ReportStopTest, DeliversOnAnotherThreadWithOrWithoutALiveService) {
  RecordingActionHandler source;  // any contract
  for (const bool live : {true, false}) {
    const auto service = live ? GlobalService::instance() : nullptr;
    ASSERT_EQ(GlobalService::current(), service);
    RecordingNoteHandler recorder;
    reportStop(&recorder, &source);
    reportStop(nullptr, &source);
    EXPECT_TRUE(deliveredOnceElsewhere(recorder, &source)) << live;
  }
}

TEST(ReportStopTest, DeliversWhenTheServiceEndsRightAfterPosting) {
  RecordingActionHandler source;
  for (int round = 0; round < 20; ++round) {
    RecordingNoteHandler recorder;
    {
      auto service = GlobalService::instance();
      reportStop(&recorder, &source);
    }  // the last reference: the service may end before the call ran
    ASSERT_TRUE(deliveredOnceElsewhere(recorder, &source)) << "round " << round;
  }
}

}  // namespace
