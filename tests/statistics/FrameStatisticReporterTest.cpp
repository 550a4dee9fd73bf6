// Vantrel::FrameStatisticReporter: its lines reach the host's channel handler on the device's
// io_context, never on the worker that counts, and the posted calls outlive the reporter.
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

#include "CapturingLogger.h"
#include "FrameStatisticReporter.h"
#include "TestChannels.h"
#include "host/GDRV.h"

namespace {

// Records StatisticUpdated calls with the thread that made them.
class StatisticHandler : public Talvo::GDRV::IAsyncDeviceChannelHandler, public Recorder {
 public:
  struct Call {
    Talvo::IContract* channel;
    std::string name;
    std::string text;
    std::thread::id thread;
  };

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char*) override { return nullptr; }
  void Failed(Talvo::IContract*, int32_t) override {}
  void Started(Talvo::IContract*) override {}
  void Stopped(Talvo::IContract*) override {}
  void StatisticUpdated(Talvo::IContract* channel, const char* name, const char* text) override {
    record([&] { calls_.push_back(Call{channel, name, text, std::this_thread::get_id()}); });
  }
  std::vector<Call> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  bool waitForCalls(size_t count, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return calls_.size() >= count; }, deadline);
  }

 private:
  std::vector<Call> calls_;
};

constexpr std::chrono::seconds kDeadline(10);

class FrameStatisticReporterTest : public ::testing::Test {
 protected:
  CapturingLogger logger;
  Talvo::LoggerOwner owner{&logger, "vs 0.1"};
  StatisticHandler handler;
  RecordingActionHandler channel;  // any contract
  boost::asio::io_context context;
};

TEST_F(FrameStatisticReporterTest, PostsVideoAndConnectsLinesOntoTheContextEvenAfterTheReporterIsGone) {
  auto reporter = std::make_unique<Vantrel::FrameStatisticReporter>(owner, &handler, &channel, context);
  reporter->resetFrameCounter(0, 90);
  for (int i = 0; i < 90; ++i) reporter->onFrame(100, i == 0);
  reporter->onConnectionStart();
  reporter->onConnectionStart();
  // Nothing reached the host on this thread: the calls wait in the context.
  EXPECT_TRUE(handler.calls().empty());
  reporter.reset();

  std::thread connectionThread([this] { context.run(); });
  const std::thread::id connectionThreadId = connectionThread.get_id();
  connectionThread.join();

  const auto calls = handler.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, "video");
  EXPECT_EQ(calls[0].text.rfind("frames=90 key=1 bytes=9000 fps=", 0), 0u) << calls[0].text;
  EXPECT_EQ(calls[1].name, "connects");
  EXPECT_EQ(calls[1].text, "starts=2");
  for (const auto& call : calls) {
    EXPECT_EQ(call.channel, &channel);
    EXPECT_EQ(call.thread, connectionThreadId);
  }
  // Each line is also logged at level 0 under the owner's prefix.
  EXPECT_EQ(logger.count("vs 0.1 video: frames=90 key=1 bytes=9000 fps="), 1u) << logger.dump();
  EXPECT_EQ(logger.count("vs 0.1 connects: starts=2"), 1u) << logger.dump();
}

TEST_F(FrameStatisticReporterTest, WorkerAndConnectionThreadRunSideBySide) {
  auto guard = boost::asio::make_work_guard(context);
  std::thread connectionThread([this] { context.run(); });
  const std::thread::id connectionThreadId = connectionThread.get_id();
  std::thread::id workerId;
  {
    Vantrel::FrameStatisticReporter reporter(owner, &handler, &channel, context);
    std::thread worker([&] {
      reporter.resetFrameCounter(10, 90);
      for (int i = 0; i < 50; ++i) reporter.onFrame(1000, i % 10 == 0);
      for (int i = 0; i < 3; ++i) reporter.onConnectionStart();
    });
    workerId = worker.get_id();
    worker.join();
  }
  const bool arrived = handler.waitForCalls(7, kDeadline);
  guard.reset();
  connectionThread.join();
  ASSERT_TRUE(arrived);

  const auto calls = handler.calls();
  ASSERT_EQ(calls.size(), 7u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(calls[i].name, "video");
    EXPECT_EQ(calls[i].text.rfind("frames=10 key=1 bytes=10000 ", 0), 0u) << calls[i].text;
  }
  EXPECT_EQ(calls[5].text, "starts=2");
  EXPECT_EQ(calls[6].text, "starts=3");
  for (const auto& call : calls) {
    EXPECT_EQ(call.thread, connectionThreadId);
    EXPECT_NE(call.thread, workerId);
  }
}

TEST_F(FrameStatisticReporterTest, WithoutHandlerOnlyLogs) {
  {
    Vantrel::FrameStatisticReporter reporter(owner, nullptr, &channel, context);
    reporter.onConnectionStart();
    reporter.onConnectionStart();
  }
  EXPECT_EQ(context.run(), 0u);  // nothing was posted
  EXPECT_TRUE(logger.contains("vs 0.1 connects: starts=2")) << logger.dump();
}

}  // namespace
