// The H.264 channel end to end: against camsim's RTSP server, and scripted servers for the rest.
#include "VideoSourceRTSP.h"

#include "RawPeer.h"
#include "RtspPeer.h"
#include "VideoFixture.h"

namespace {

using namespace std::chrono_literals;
using rtsptest::RtspPeer;

class VideoSourceRTSPTest : public CamsimVideoTest {
 protected:
  // A device of the repository's H.264 model whose connection text names `rtspPort`.
  void makeRtspDevice(uint16_t httpPort, uint16_t rtspPort, const std::string& credentials = "admin:s3cr%40t@") {
    makeDevice("VX-H30", httpPort, credentials, "?rtsp_port=" + std::to_string(rtspPort));
  }
  // The channel with a short reconnect delay, started unless `start` is false.
  Vantrel::VideoSourceRTSP* createRtsp(bool start = true) {
    createVideo(0, 0);
    auto* rtsp = dynamic_cast<Vantrel::VideoSourceRTSP*>(video);
    EXPECT_NE(rtsp, nullptr) << "the stream's codecs name H264";
    if (rtsp) rtsp->setReconnectDelay(boost::posix_time::milliseconds(200));
    if (rtsp && start) video->Start();
    return rtsp;
  }
  // Every Stop reports Stopped, started or not, maybe after Destroy returns: wait for it first.
  void TearDown() override {
    if (video) {
      const int before = handler.snapshot(&RecordingVideoHandler::stopped);
      video->Stop();
      EXPECT_TRUE(handler.waitForStopped(10s, before + 1));
    }
    CamsimVideoTest::TearDown();
  }
  void startH264Camera() {
    camera = startCamsim("VX-H30", {"--picture", "320x240"});
    ASSERT_NE(camera->rtspPort(), 0) << "an H.264 model serves RTSP";
    makeRtspDevice(camera->httpPort(), camera->rtspPort());
  }
};

TEST_F(VideoSourceRTSPTest, CamsimsStreamArrivesKeyFrameFirstWithItsParameterSets) {
  startH264Camera();
  ASSERT_NE(createRtsp(), nullptr);
  ASSERT_TRUE(handler.waitForFrames(30, 20s)) << logger.dump();
  const auto received = frames();
  EXPECT_EQ(received[0].codec, "H264");
  ASSERT_TRUE(received[0].key);
  const std::string first(received[0].bytes.begin(), received[0].bytes.end());
  EXPECT_EQ(first.substr(0, 5), std::string("\0\0\0\1\x67", 5)) << "SPS in front, Annex-B";
  EXPECT_EQ(std::count_if(received.begin(), received.begin() + 25, [](const ReceivedFrame& f) { return f.key; }), 1)
      << "one key frame per 25";
  EXPECT_EQ(camera->requestTargets("/vantrel"), std::vector<std::string>({"/vantrel.h264"}));
  EXPECT_TRUE(failures().empty());
  EXPECT_EQ(handler.snapshot(&RecordingVideoHandler::started), 1);
  // The device's address names the channel's lines, for hosts with many cameras.
  EXPECT_EQ(lineWith(" Connecting to rtsp://").message,
            "[addr http://127.0.0.1:" + std::to_string(camera->httpPort()) +
                "/] vs 0.0 Connecting to rtsp://127.0.0.1:" + std::to_string(camera->rtspPort()) + "/vantrel.h264");
}

TEST_F(VideoSourceRTSPTest, AStalledStreamIsReportedOnceAndPlayedAgain) {
  startH264Camera();
  camera->fault("path=/vantrel.h264&count=1&stall_after_parts=10");
  auto* rtsp = createRtsp(false);
  ASSERT_NE(rtsp, nullptr);
  Talvo::Utility::RtspTimeouts timeouts;
  timeouts.silence = boost::posix_time::milliseconds(500);
  rtsp->setRtspTimeouts(timeouts);
  video->Start();
  ASSERT_TRUE(handler.waitForFrames(20, 20s)) << logger.dump();
  EXPECT_EQ(failures(), std::vector<int>({110}));
  EXPECT_EQ(camera->requestTargets("/vantrel").size(), 2u) << "reconnected at once after the working period";
  // At most 10 frames came before the stall (the server may encode some before PLAY).
  EXPECT_EQ(logger.count(" First frame of the session (key)"), 2u) << "each session begins with a key frame";
  const auto received = frames();
  EXPECT_GE(std::count_if(received.begin(), received.begin() + 20, [](const ReceivedFrame& f) { return f.key; }), 2);
}

TEST_F(VideoSourceRTSPTest, AWrongPasswordGivesOneFailedAndRetriesOnItsDelay) {
  RtspPeer::Script script;
  script.auth = RtspPeer::Auth::Digest;
  RtspPeer peer(script);
  makeRtspDevice(1, peer.port(), "admin:wrong@");
  ASSERT_NE(createRtsp(), nullptr);
  ASSERT_TRUE(peer.waitForRequests("OPTIONS", 10, 10s)) << "5 attempts, each answering the challenge once";
  EXPECT_EQ(failures(), std::vector<int>({401}));
  EXPECT_EQ(peer.countOf("DESCRIBE"), 0u);
}

// A server that drops every connection is tried at once, again after the reported failure, then
// every 3 s: no fourth attempt within 4 s, and the third still comes.
TEST_F(VideoSourceRTSPTest, WithoutDeliveryTheRetriesComeEveryThreeSeconds) {
  RawPeer peer({RawPeer::close()});
  makeRtspDevice(1, peer.port());
  createVideo(0, 0);
  video->Start();
  ASSERT_TRUE(peer.waitForConnections(2, 10s));
  EXPECT_FALSE(peer.waitForConnections(4, 4s)) << "a delay below 3 s tries again and again";
  EXPECT_TRUE(peer.waitForConnections(3, 10s));
  EXPECT_EQ(failures().size(), 1u) << "one failure for the outage";
  peer.stop();
}

TEST_F(VideoSourceRTSPTest, AnUnreadableConnectionTextFailsWithCode10) {
  device = makeShippedDevice("VX-H30", nullptr, &logger);
  device->Connect("not a connection text");
  ASSERT_NE(createRtsp(), nullptr);
  ASSERT_TRUE(handler.waitForFailures(1, 5s));
  EXPECT_EQ(failures(), std::vector<int>({10}));
}

// Settings need no request; a Stop before the Start and a second Start are skipped with notes.
TEST_F(VideoSourceRTSPTest, SettingsNeedNoRequestAndStartAndStopTwiceAreSkipped) {
  RtspPeer peer(RtspPeer::Script{});
  makeRtspDevice(1, peer.port());
  ASSERT_NE(createRtsp(false), nullptr);
  RecordingActionHandler done;
  setValues(adjuster(), {{"fps", 5}, {"resolution", "640x360"}});
  adjuster()->ApplySettings(&done);
  ASSERT_TRUE(done.waitForResults(1, 1s));
  EXPECT_EQ(done.results(), std::vector<int>({0}));
  EXPECT_EQ(peer.connectionCount(), 0u);
  video->Stop();
  EXPECT_TRUE(handler.waitForStopped(5s));
  EXPECT_EQ(lineWith(" Skip stopping, as not started").level, 3);
  video->Start();
  video->Start();
  EXPECT_EQ(lineWith(" Skip starting, as already started").level, 3);
  EXPECT_EQ(logger.count(" Starting"), 1u);
  EXPECT_EQ(lineWith(" Skip starting").file, "Nuvlet/include/AsyncSource");
}

}  // namespace
