// A channel's "video" and "connects" lines reach the host through the device's io_context (even
// after the reporter is gone), logged under the channel's prefix; a running channel's every 90
// pictures by default, and none after its Stopped.
#include <atomic>
#include <future>

#include <boost/asio/io_context.hpp>

#include "FrameStatisticReporter.h"
#include "VideoFixture.h"

namespace {

using namespace std::chrono_literals;

TEST(FrameStatisticReporter, PostsVideoAndConnectsLinesOntoTheDevicesContext) {
  CapturingLogger logger;
  const Talvo::LoggerOwner owner{&logger, "vs 0.1"};
  RecordingNoteHandler handler;
  RecordingNoteHandler channel;  // any contract object stands for the channel
  boost::asio::io_context context;
  auto reporter = std::make_unique<Vantrel::FrameStatisticReporter>(owner, &handler, &channel, context);
  reporter->resetFrameCounter(0, 90);
  for (int i = 0; i < 90; ++i) reporter->onFrame(100, i == 0);
  reporter->onConnectionStart();
  reporter->onConnectionStart();
  EXPECT_TRUE(handler.notes().empty()) << "nothing reaches the host on the counting thread";
  reporter.reset();

  std::thread connectionThread([&] { context.run(); });
  const std::thread::id connectionThreadId = connectionThread.get_id();
  connectionThread.join();

  const auto notes = handler.notes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].text.rfind("video frames=90 key=1 bytes=9000 fps=", 0), 0u) << notes[0].text;
  EXPECT_EQ(notes[1].text, "connects starts=2");
  for (const auto& note : notes) {
    EXPECT_EQ(note.channel, &channel);
    EXPECT_EQ(note.thread, connectionThreadId);
  }
  EXPECT_EQ(logger.count("vs 0.1 video: frames=90 key=1 bytes=9000 fps="), 1u) << logger.dump();
  EXPECT_EQ(logger.count("vs 0.1 connects: starts=2"), 1u) << logger.dump();
}

// A camera that sends pictures as fast as they are read.
class ChannelStatisticsTest : public CamsimVideoTest {
 protected:
  void SetUp() override {
    camera = std::make_unique<CamsimProcess>(
        std::vector<std::string>{"--unthrottled", "--user", "admin", "--password", "s3cr@t"});
    makeDevice("generic", camera->httpPort(), "admin:s3cr%40t@");
  }
  // Starts the channel; `interval` > 0 sets the report interval.
  void startChannel(int interval) {
    ASSERT_NE(createVideo(), nullptr);
    if (interval > 0) {
      adjuster()->SetValue("frameReportInterval", interval);
      adjuster()->ApplySettings(&applied);
    }
    video->Start();
  }

  RecordingActionHandler applied;
};

TEST_F(ChannelStatisticsTest, ByDefaultAVideoLineFollowsEvery90Pictures) {
  startChannel(0);
  ASSERT_TRUE(handler.waitForLines(2, 30s)) << logger.dump();
  for (const std::string& line : handler.snapshot(&RecordingVideoHandler::lines))
    if (line.rfind("video ", 0) == 0) {
      EXPECT_EQ(line.rfind("video frames=90 ", 0), 0u) << line;
    }
}

// Lines go out on the device's thread, Stopped on the process-wide service: a host that holds the
// first line, or stops the channel from inside it, hears every line before Stopped, none after.
class StopAfterLinesTest : public ChannelStatisticsTest, public ::testing::WithParamInterface<bool> {
 protected:
  std::atomic<bool> first{true};
  std::promise<void> held, released;
  std::future<void> heldDone = held.get_future();
  std::shared_future<void> releasedDone = released.get_future().share();
};

TEST_P(StopAfterLinesTest, TheHostHearsStoppedAfterTheLastLine) {
  const bool stopFromLine = GetParam();
  handler.onLine = [this, stopFromLine] {
    if (!first.exchange(false)) return;
    held.set_value();
    EXPECT_TRUE(handler.waitForFrames(20, 20s)) << "pictures queue their lines behind the held one";
    if (stopFromLine) return video->Stop();
    releasedDone.wait_for(20s);
  };
  startChannel(1);
  ASSERT_EQ(heldDone.wait_for(20s), std::future_status::ready) << logger.dump();
  if (!stopFromLine) {
    ASSERT_TRUE(handler.waitForFrames(20, 20s));
    video->Stop();
    (void)handler.waitForStopped(2s);  // a Stopped that overtook the held line would be here by now
    released.set_value();
  }
  ASSERT_TRUE(handler.waitForStopped(20s)) << logger.dump();
  EXPECT_GT(handler.snapshot(&RecordingVideoHandler::lines).size(), 1u) << "Stopped came before the queued lines";
  EXPECT_EQ(handler.snapshot(&RecordingVideoHandler::afterStopped), 0);
}

INSTANTIATE_TEST_SUITE_P(HoldingOrStoppingFromALine, StopAfterLinesTest, ::testing::Bool());

}  // namespace
