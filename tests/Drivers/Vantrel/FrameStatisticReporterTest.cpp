// Vantrel::FrameStatisticReporter: the "video" and "connects" lines of a channel reach the host's
// channel handler through the device's io_context, not on the worker that counts, even when the
// reporter is gone by then, and each is logged under the channel's prefix.
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

#include "CapturingLogger.h"
#include "FrameStatisticReporter.h"
#include "host/GDRV.h"

namespace {

// Records StatisticUpdated calls with the thread that made them; one thread at a time calls it.
class RecordingChannelHandler : public Talvo::GDRV::IAsyncDeviceChannelHandler {
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
    calls.push_back(Call{channel, name, text, std::this_thread::get_id()});
  }

  std::vector<Call> calls;
};

TEST(FrameStatisticReporter, PostsVideoAndConnectsLinesOntoTheDevicesContext) {
  CapturingLogger logger;
  const Talvo::LoggerOwner owner{&logger, "vs 0.1"};
  RecordingChannelHandler handler;
  RecordingChannelHandler channel;  // any contract object stands for the channel
  boost::asio::io_context context;
  auto reporter = std::make_unique<Vantrel::FrameStatisticReporter>(owner, &handler, &channel, context);
  reporter->resetFrameCounter(0, 90);
  for (int i = 0; i < 90; ++i) reporter->onFrame(100, i == 0);
  reporter->onConnectionStart();
  reporter->onConnectionStart();
  EXPECT_TRUE(handler.calls.empty()) << "nothing reaches the host on the counting thread";
  reporter.reset();

  std::thread connectionThread([&] { context.run(); });
  const std::thread::id connectionThreadId = connectionThread.get_id();
  connectionThread.join();

  ASSERT_EQ(handler.calls.size(), 2u);
  EXPECT_EQ(handler.calls[0].name, "video");
  EXPECT_EQ(handler.calls[0].text.rfind("frames=90 key=1 bytes=9000 fps=", 0), 0u) << handler.calls[0].text;
  EXPECT_EQ(handler.calls[1].name, "connects");
  EXPECT_EQ(handler.calls[1].text, "starts=2");
  for (const auto& call : handler.calls) {
    EXPECT_EQ(call.channel, &channel);
    EXPECT_EQ(call.thread, connectionThreadId);
  }
  EXPECT_EQ(logger.count("vs 0.1 video: frames=90 key=1 bytes=9000 fps="), 1u) << logger.dump();
  EXPECT_EQ(logger.count("vs 0.1 connects: starts=2"), 1u) << logger.dump();
}

}  // namespace
