// The process-wide I/O service and the Stopped notification delivered on it; FramesStatistic with
// a clock the test moves; StatisticReporter: the channel's Stopped after its lines (through a
// running channel: tests/Drivers/Vantrel/FrameStatisticReporterTest).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include "TestChannels.h"
#include "host/Nuvlet/GlobalService.h"
#include "host/Nuvlet/Statistics.h"
#include "host/Nuvlet/StopReport.h"

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

// Stopped comes once, never on the caller's thread. Round 0 holds the service, round 1 has none;
// the other 20 drop its last reference right after posting, so that it may end before the call ran.
TEST(ReportStopTest, DeliversOnceOnAnotherThreadWithOrWithoutALiveService) {
  RecordingActionHandler source;  // any contract
  for (int round = 0; round < 22; ++round) {
    auto service = round == 1 ? nullptr : GlobalService::instance();
    ASSERT_EQ(GlobalService::current(), service) << round;
    RecordingNoteHandler recorder;
    reportStop(&recorder, &source);
    if (round > 1) service.reset();
    reportStop(nullptr, &source);
    ASSERT_TRUE(recorder.waitForStopped()) << round;
    const auto notes = recorder.notes();
    ASSERT_EQ(notes.size(), 1u) << round;
    EXPECT_TRUE(notes[0].channel == &source && notes[0].thread != std::this_thread::get_id()) << round;
  }
}

// Collects every periodic line as "name text".
StatisticReportFunction into(std::vector<std::string>& lines) {
  return [&lines](const std::string& name, const std::string& text) { lines.push_back(name + " " + text); };
}

class FramesStatisticTest : public ::testing::Test {
 protected:
  uint64_t nowMs = 1700000000000;
  std::vector<std::string> reported;
  FramesStatistic statistic{"video", into(reported), [this] { return nowMs; }};

  int frameIndex = 0;  // over every call, so key frames keep their places

  // `count` frames of `size` bytes, 40 ms apart (25 fps); every `keyEvery`th is a key frame.
  void frames(int count, size_t size = 1000, int keyEvery = 30) {
    for (int i = 0; i < count; ++i, ++frameIndex) {
      nowMs += 40;
      statistic.onFrame(size, frameIndex % keyEvery == 0);
    }
  }
};

TEST_F(FramesStatisticTest, PeriodLinesCarryThePeriodsRatesAndOutOfSyncAndResetStartsAFreshOne) {
  statistic.resetFrameCounter(0, 90);
  frames(60);
  statistic.streamOutOfSync();
  statistic.resetFrameCounter(0, 90);
  EXPECT_EQ(statistic.periodFrames(), 0u);
  frames(89);
  EXPECT_TRUE(reported.empty());
  frames(1);
  statistic.streamOutOfSync();
  statistic.streamOutOfSync();
  frames(90);
  // 90 frames of 1000 bytes in 3.6 s: 25 fps, 720000 bits / 3.6 s = 200 kbps.
  EXPECT_EQ(reported, (std::vector<std::string>{"video frames=90 key=3 bytes=90000 fps=25.0 kbps=200.0 outOfSync=0",
                                                "video frames=90 key=3 bytes=90000 fps=25.0 kbps=200.0 outOfSync=2"}));
  EXPECT_EQ(statistic.totalFrames(), 240u);  // the totals run on
  EXPECT_EQ(statistic.totalOutOfSync(), 3u);
}

TEST(FramesStatisticInterval, GivenIntervalWinsDefaultBeforeResetNoneWithoutIntervals) {
  // given (-1: no reset; else resetFrameCounter(given, fallback)), fallback, frames, lines
  const std::tuple<int, int, int, size_t> cases[] = {
      {-1, 0, FramesStatistic::kDefaultFrameReportInterval, 1}, {30, 90, 90, 3}, {0, 0, 1000, 0}};
  for (const auto& [given, fallback, count, lines] : cases) {
    std::vector<std::string> reported;
    FramesStatistic statistic{"video", into(reported)};
    if (given >= 0) statistic.resetFrameCounter(given, fallback);
    for (int i = 0; i < count; ++i) statistic.onFrame(1000, i % 30 == 0);
    EXPECT_EQ(reported.size(), lines) << given;
    EXPECT_EQ(statistic.totalFrames(), static_cast<uint64_t>(count));
  }
}

TEST_F(FramesStatisticTest, TotalsSinceCreationSinceAGivenMomentAndAfterReset) {
  const uint64_t createdMs = nowMs;
  frames(100, 2500, 25);  // 4 s: 25 fps, 250000 bytes = 500 kbps
  statistic.streamOutOfSync();
  const auto line = [&](uint64_t now, uint64_t since = 0) { return statistic.getFramesStatistic(now, since, false); };
  const std::string totals = "frames=100 key=4 bytes=250000 fps=25.0 kbps=500.0 outOfSync=1";
  EXPECT_EQ(line(nowMs), totals);
  // Measured from 2 s after creation: the same counts over half the time.
  EXPECT_EQ(line(nowMs, createdMs + 2000), "frames=100 key=4 bytes=250000 fps=50.0 kbps=1000.0 outOfSync=1");
  // A clock step back gives no rates.
  EXPECT_EQ(line(createdMs - 1000), "frames=100 key=4 bytes=250000 fps=0.0 kbps=0.0 outOfSync=1");
  // Reset: the line still gives the totals, the next one starts from zero at `nowMs`.
  EXPECT_EQ(statistic.getFramesStatistic(nowMs, 0, true), totals);
  EXPECT_EQ(line(nowMs), "frames=0 key=0 bytes=0 fps=0.0 kbps=0.0 outOfSync=0");
  frames(10, 1000, 100);
  EXPECT_EQ(line(nowMs), "frames=10 key=1 bytes=10000 fps=25.0 kbps=200.0 outOfSync=0");
  // Rates round to one decimal: 2 frames, 3001 bytes over 3 s are 0.666.. fps, 8.0026.. kbps.
  EXPECT_EQ(formatFramesLine(2, 1, 3001, 0, 3000), "frames=2 key=1 bytes=3001 fps=0.7 kbps=8.0 outOfSync=0");
}

// When the connection thread drops its tasks, Stopped still comes (on the shared service).
TEST(StatisticReporterTest, StoppedComesOnceAfterTheLinesAlsoWhenTheConnectionThreadDropsItsTasks) {
  const auto service = GlobalService::instance();
  const Talvo::LoggerOwner quiet{static_cast<Talvo::ILogger*>(nullptr), ""};
  for (const bool running : {true, false}) {
    RecordingNoteHandler handler, channel;  // any contract stands for the channel
    {
      boost::asio::io_context connection;
      StatisticReporter reporter(quiet, &handler, &channel, connection);
      for (int i = 0; i < 3; ++i) reporter.updateStatistic("video", std::to_string(i));
      reporter.reportStopAfterLastLine();
      reporter.updateStatistic("video", "late");  // logged only
      reporter.reportStopAfterLastLine();         // once is enough
      EXPECT_TRUE(handler.texts().empty()) << "nothing reaches the host on the reporting thread";
      if (running) std::thread([&connection] { connection.run(); }).join();
    }
    ASSERT_TRUE(handler.waitForStopped());
    const std::vector<std::string> expected{"video 0", "video 1", "video 2", "Stopped"};
    EXPECT_EQ(handler.texts(), running ? expected : std::vector<std::string>{"Stopped"});
  }
}

}  // namespace
