// The RTSP client against a scripted RTSP server on loopback.
#include "host/Nuvlet/RTSPClient.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include "CapturingLogger.h"
#include "RtspPeer.h"
#include "TestChannels.h"
#include "host/Nuvlet/HttpCategory.h"

namespace {

using namespace std::chrono_literals;
using rtsptest::RtspPeer;

// `frames` access units as a camera sends them, 40 ms apart: a key frame every `keyEvery`.
std::vector<std::string> stream(size_t frames, size_t keyEvery = 25, size_t keySize = 5000, uint16_t sequence = 100) {
  std::vector<std::string> packets;
  for (size_t i = 0; i < frames; ++i) {
    const auto payloads = rtsptest::unitPayloads(i % keyEvery == 0, keySize);
    for (size_t p = 0; p < payloads.size(); ++p)
      packets.push_back(
          rtsptest::rtpPacket(sequence++, static_cast<uint32_t>(i * 3600), p + 1 == payloads.size(), payloads[p]));
  }
  return packets;
}

class RTSPClientTest : public ::testing::Test {
 protected:
  RTSPClientTest() {
    sink.handler = &handler;
    sink.factory = &factory;
    sink.reportNextFailure = &reportNextFailure;
    sink.statistic = &statistic;
    worker = std::thread([this] { io.run(); });
  }
  ~RTSPClientTest() override {
    boost::asio::post(io, [this] { client.teardown({}); });
    work.reset();
    worker.join();
    for (const auto& line : logger.messages()) EXPECT_EQ(line.find("s3cr"), std::string::npos) << line;
  }

  void start(const RtspPeer& peer, const std::string& credentials = "admin:s3cr%40t@") {
    Talvo::asio::ConnectionInfo info = Talvo::asio::parseConnectionInfo(
        "http://" + credentials + "127.0.0.1:80/?rtsp_port=" + std::to_string(peer.port()));
    Talvo::Utility::setDefaultRtspPort(info);
    boost::asio::post(io, [this, info] {
      client.setTimeouts(timeouts);
      client.start(info, "/vantrel.h264", [this](const boost::system::error_code& error) {
        std::lock_guard<std::mutex> lock(mutex);
        ended = error;
        changed.notify_all();
      });
    });
  }
  std::optional<boost::system::error_code> waitForEnd(std::chrono::milliseconds deadline = 10s) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, deadline, [this] { return ended.has_value(); });
    return ended;
  }
  // Ends the session and forgets its end, for the next one.
  void restart() {
    boost::asio::post(io, [this] { client.teardown({}); });
    ASSERT_TRUE(waitForEnd().has_value());
    std::lock_guard<std::mutex> lock(mutex);
    ended.reset();
  }
  std::string url(const RtspPeer& peer) const { return "rtsp://127.0.0.1:" + std::to_string(peer.port()); }
  // "METHOD URL" of every request, in order.
  static std::vector<std::string> requestLines(const RtspPeer& peer) {
    std::vector<std::string> lines;
    for (const std::string& head : peer.requests()) lines.push_back(head.substr(0, head.find(" RTSP/1.0")));
    return lines;
  }

  CapturingLogger logger;
  Talvo::LoggerOwner owner{&logger, "vs 0.0"};
  RecordingVideoHandler handler;
  TestFrameFactory factory;
  bool reportNextFailure = false;
  Talvo::Utility::FramesStatistic statistic{"video", nullptr};
  Talvo::Utility::VideoSinkParams sink;
  Talvo::Utility::RtspTimeouts timeouts;
  boost::asio::io_context io;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work{io.get_executor()};
  Talvo::Utility::RTSPClient client{io, owner, sink};
  std::thread worker;
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<boost::system::error_code> ended;
};

TEST(RtspPort, FromTheConnectionTextsQueryItem) {
  struct Case {
    std::string text;
    uint16_t port;
  };
  for (const Case& c : {Case{"http://u:p@cam:80/", 554}, Case{"http://u:p@cam:80/?rtsp_port=8554", 8554},
                        Case{"http://cam/?a=1&rtsp_port=10554&b=2", 10554}, Case{"http://cam/?rtsp_port=0", 554},
                        Case{"http://cam/?rtsp_port=70000", 554}, Case{"http://cam/?rtsp_port=x", 554},
                        Case{"http://cam/?my_rtsp_port=9", 554}}) {
    Talvo::asio::ConnectionInfo info = Talvo::asio::parseConnectionInfo(c.text);
    Talvo::Utility::setDefaultRtspPort(info);
    EXPECT_EQ(info.port, c.port) << c.text;
  }
}

struct AuthCase {
  const char* name;
  RtspPeer::Auth auth;
};

class RTSPClientAuthTest : public RTSPClientTest, public ::testing::WithParamInterface<AuthCase> {};

TEST_P(RTSPClientAuthTest, PlaysAfterAnsweringTheChallengeOnceAndKeepsTheSessionAlive) {
  RtspPeer::Script script;
  script.auth = GetParam().auth;
  script.packets = stream(30);
  script.sessionTimeoutSeconds = 1;
  RtspPeer peer(script);
  start(peer);
  ASSERT_TRUE(handler.waitForFrames(30, 10s)) << logger.dump();
  const std::string base = url(peer) + "/vantrel.h264";
  EXPECT_EQ(requestLines(peer), std::vector<std::string>({"OPTIONS " + base, "OPTIONS " + base, "DESCRIBE " + base,
                                                          "SETUP " + base + "/track1", "PLAY " + base + "/"}));
  // (What the frames hold: tests/Drivers/Vantrel/VideoSourceRTSPTest.)
  EXPECT_TRUE(handler.snapshot(&RecordingVideoHandler::frames)[0].key);
  EXPECT_TRUE(reportNextFailure) << "the first frame of a session sets the flag again";
  // Keep-alives at half the session time-out, answered like the other requests.
  EXPECT_TRUE(peer.waitForRequests("GET_PARAMETER", 2, 10s));
  EXPECT_TRUE(logger.waitFor(" RTSP stream playing, keep-alive every 500 ms", 1s)) << logger.dump();
  EXPECT_FALSE(waitForEnd(0ms).has_value());
}

INSTANTIATE_TEST_SUITE_P(Schemes, RTSPClientAuthTest,
                         ::testing::Values(AuthCase{"Digest", RtspPeer::Auth::Digest},
                                           AuthCase{"Basic", RtspPeer::Auth::Basic}),
                         [](const auto& info) { return std::string(info.param.name); });

// A wrong password ends with 401 after one retry; a redirect is refused with its status.
TEST_F(RTSPClientTest, AWrongPasswordEndsWith401AfterOneRetryAndARedirectIsRefused) {
  RtspPeer::Script wrong, moved;
  wrong.auth = RtspPeer::Auth::Digest;
  moved.describeStatus = "301 Moved Permanently";
  RtspPeer refusing(wrong), redirecting(moved);
  start(refusing, "admin:wrong@");
  EXPECT_EQ(waitForEnd(), boost::system::error_code(401, Talvo::http::http_category()));
  EXPECT_EQ(requestLines(refusing), std::vector<std::string>(2, "OPTIONS " + url(refusing) + "/vantrel.h264"));
  restart();
  start(redirecting);
  EXPECT_EQ(waitForEnd(), boost::system::error_code(301, Talvo::http::http_category()));
  EXPECT_TRUE(logger.waitFor(" RTSP redirect to rtsp://10.0.0.9/elsewhere refused", 1s)) << logger.dump();
  EXPECT_TRUE(handler.snapshot(&RecordingVideoHandler::frames).empty());
}

// Packets keep coming but none makes a picture (delta frames after a loss, no key frame): the
// session ends with the silence guard, long before the packets stop. (A server that stops sending:
// tests/Drivers/Vantrel/VideoSourceRTSPTest.)
TEST_F(RTSPClientTest, PacketsThatDeliverNothingEndTheSessionAtTheSilenceGuard) {
  RtspPeer::Script script;
  script.packets = stream(5, 5);
  auto undecodable = stream(2000, 100000, 5000, 200);  // 4 s of packets at the pace below
  undecodable.erase(undecodable.begin(),
                    undecodable.begin() + static_cast<std::ptrdiff_t>(rtsptest::unitPayloads(true).size()));
  script.packets.insert(script.packets.end(), undecodable.begin(), undecodable.end());
  script.pace = 2ms;
  RtspPeer peer(script);
  timeouts.silence = boost::posix_time::milliseconds(300);
  start(peer);
  EXPECT_EQ(waitForEnd(3s), boost::system::error_code(boost::asio::error::timed_out)) << logger.dump();
  EXPECT_EQ(handler.snapshot(&RecordingVideoHandler::frames).size(), 5u);
  EXPECT_EQ(logger.count(" No frame for 300 ms"), 1u);
}

TEST_F(RTSPClientTest, ALostPacketDropsTheBrokenUnitAndTheDeltaFramesAfterIt) {
  RtspPeer::Script script;
  script.sprop = "Z0LAH9kA,aM4PyA==";
  auto packets = stream(10, 5);
  packets.erase(packets.begin() + 2);  // a piece of the first key frame
  script.packets = packets;
  RtspPeer peer(script);
  start(peer);
  ASSERT_TRUE(handler.waitForFrames(5, 10s)) << logger.dump();
  const auto frames = handler.snapshot(&RecordingVideoHandler::frames);
  EXPECT_TRUE(frames[0].key) << "the broken key frame and its delta frames never reach the host";
  boost::asio::post(io, [this] { client.teardown({}); });
  ASSERT_TRUE(waitForEnd().has_value());
  EXPECT_EQ(statistic.totalOutOfSync(), 5u);
  EXPECT_TRUE(peer.waitForRequests("TEARDOWN", 1, 5s));
}

// The sequence numbers jump (a server restarted behind the kept session, a new SSRC): the
// client starts counting again and shows pictures from the next key frame on.
TEST_F(RTSPClientTest, ASequenceNumberJumpResumesAtTheNextKeyFrame) {
  struct Case {
    const char* what;
    uint16_t after;  // the first sequence number after the jump (the first run ends at 10 frames' packets)
  };
  for (const Case& c :
       {Case{"forwards by 40000", 40100}, Case{"backwards by 1000", static_cast<uint16_t>(100 - 1000)}}) {
    RtspPeer::Script script;
    script.packets = stream(10, 5);
    for (const std::string& packet : stream(10, 5, 5000, c.after)) script.packets.push_back(packet);
    RtspPeer peer(script);
    start(peer);
    // 10 before; after it the first unit is lost as broken, then delta frames wait for the key frame.
    const size_t before = handler.snapshot(&RecordingVideoHandler::frames).size();
    ASSERT_TRUE(handler.waitForFrames(before + 15, 10s)) << c.what << "\n" << logger.dump();
    EXPECT_TRUE(handler.snapshot(&RecordingVideoHandler::frames)[before + 10].key) << c.what;
    restart();
  }
}

}  // namespace
