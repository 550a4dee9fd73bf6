// Vantrel::FrameStatisticReporter: the "video" and "connects" lines of a channel reach the host's
// channel handler through the device's io_context, not on the worker that counts, even when the
// reporter is gone by then, and each is logged under the channel's prefix. Through a running
// channel: a line every 90 pictures by default, and none after the channel's Stopped.
#include <condition_variable>
#include <mutex>

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

// The lines go out on the device's connection thread and Stopped on the process-wide service:
// a host that is slow with one line, or stops the channel from inside one, must still hear
// every line before Stopped and nothing after it.
class StopAfterLinesTest : public ChannelStatisticsTest {
 protected:
  // Holds the first line (or stops the channel from it) while every picture queues another.
  void run(bool stopFromLine) {
    handler.onLine = [this, stopFromLine] {
      std::unique_lock<std::mutex> lock(mutex);
      if (inLine) return;  // only the first line is held
      inLine = true;
      changed.notify_all();
      if (stopFromLine) {
        lock.unlock();
        // Pictures that arrive meanwhile queue their lines behind this one.
        EXPECT_TRUE(handler.waitForFrames(20, 20s));
        video->Stop();
        return;
      }
      changed.wait_for(lock, 20s, [this] { return released; });
    };
    startChannel(1);
    {
      std::unique_lock<std::mutex> lock(mutex);
      ASSERT_TRUE(changed.wait_for(lock, 20s, [this] { return inLine; })) << logger.dump();
    }
    if (!stopFromLine) {
      ASSERT_TRUE(handler.waitForFrames(20, 20s)) << "every picture queues a line behind the held one";
      video->Stop();
      // Stopped waits behind the held line; one that overtook it would be here by now.
      (void)handler.waitForStopped(2s);
      std::lock_guard<std::mutex> lock(mutex);
      released = true;
      changed.notify_all();
    }
    ASSERT_TRUE(handler.waitForStopped(20s)) << logger.dump();
    EXPECT_GT(handler.snapshot(&RecordingVideoHandler::lines).size(), 1u)
        << "Stopped came before the lines queued ahead of it";
    EXPECT_EQ(handler.snapshot(&RecordingVideoHandler::afterStopped), 0);
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool inLine = false;
  bool released = false;
};

TEST_F(StopAfterLinesTest, AHostHoldingALineHearsStoppedAfterTheLastLine) { run(false); }

TEST_F(StopAfterLinesTest, AHostStoppingFromALineHearsStoppedAfterTheLastLine) { run(true); }

}  // namespace
