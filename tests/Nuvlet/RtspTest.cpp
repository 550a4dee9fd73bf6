// What the RTSP client reads (answers, the Session header, the stream description, RTP packets and
// the H.264 access units assembled from them); the client against a scripted server on loopback.
#include "Nuvlet/include/RtpH264.h"
#include "Nuvlet/include/RtspAnswer.h"
#include "Nuvlet/include/SdpDescription.h"
#include "host/Nuvlet/RTSPClient.h"
#include "host/Nuvlet/HttpCategory.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "RtspPeer.h"
#include "CapturingLogger.h"
#include "TestChannels.h"

namespace {

using rtsptest::fuA;
using rtsptest::nal;
using rtsptest::rtpPacket;
using Talvo::rtsp::H264Assembler;

const std::string kStart("\0\0\0\1", 4);
const std::string kSps = nal(7, 10);
const std::string kPps = nal(8, 4);

struct Frame {
  std::string bytes;
  bool key;
  uint32_t timestamp;
};

// Feeds packets into an assembler and keeps what comes out.
struct Feeder {
  Feeder()
      : assembler(
            [this](const Talvo::rtsp::AccessUnit& unit) {
              frames.push_back(
                  {std::string(reinterpret_cast<const char*>(unit.data), unit.size), unit.key, unit.rtpTimestamp});
            },
            [this] { ++dropped; }) {}

  // One unit's payloads, one packet each, the marker on the last; `skip` leaves packets out.
  bool unit(const std::vector<std::string>& payloads, const std::set<size_t>& skip = {}) {
    bool fine = true;
    for (size_t i = 0; i < payloads.size(); ++i, ++sequence) {
      if (skip.count(i)) continue;
      fine = push(rtpPacket(sequence, timestamp, i + 1 == payloads.size(), payloads[i])) && fine;
    }
    timestamp += 3600;
    return fine;
  }
  bool push(const std::string& bytes) {
    Talvo::rtsp::RtpPacket packet;
    EXPECT_TRUE(Talvo::rtsp::parseRtpPacket(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), packet));
    return assembler.push(packet);
  }

  H264Assembler assembler;
  std::vector<Frame> frames;
  int dropped = 0;
  uint16_t sequence = 65530;  // the sequence numbers wrap during the tests
  uint32_t timestamp = 0xfffff000;
};

std::vector<std::string> keyUnit(size_t size = 5000) { return rtsptest::unitPayloads(true, size); }
std::vector<std::string> deltaUnit() { return rtsptest::unitPayloads(false); }

// A packet with padding, an extension and one CSRC; lengths past the end are refused.
TEST(RtpPacket, HeaderFieldsCsrcExtensionAndPaddingLengthsPastTheEndRefused) {
  std::string packet = rtpPacket(0x1234, 0x01020304, true, "abc");
  packet[0] = static_cast<char>(0x80 | 0x20 | 0x10 | 1);  // padding, extension, one CSRC
  packet.insert(12, std::string("CSRC") + std::string("\xbe\xde\x00\x01", 4) + "EXT1");
  packet += std::string("\0\0\3", 3);  // three bytes of padding
  Talvo::rtsp::RtpPacket parsed;
  ASSERT_TRUE(Talvo::rtsp::parseRtpPacket(reinterpret_cast<const uint8_t*>(packet.data()), packet.size(), parsed));
  EXPECT_EQ(std::to_string(parsed.marker) + " " + std::to_string(parsed.payloadType) + " " +
                std::to_string(parsed.sequence) + " " + std::to_string(parsed.timestamp) + " " +
                std::string(reinterpret_cast<const char*>(parsed.payload), parsed.payloadSize),
            "1 96 4660 16909060 abc");
  const std::string good = rtpPacket(1, 1, false, "x");
  for (const std::string& bad :
       {good.substr(0, 11), "\x40" + good.substr(1), "\x8f" + good.substr(1), "\x90" + good.substr(1),
        "\xa0" + good.substr(1, 11) + "\xff", "\xa0" + good.substr(1, 11) + std::string(1, '\0')})
    EXPECT_FALSE(Talvo::rtsp::parseRtpPacket(reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), parsed))
        << ::testing::PrintToString(bad);
}

// A key frame of a STAP-A and about 140 FU-A pieces comes whole, in Annex B. A bare key frame gets
// the description's parameter sets in front; without its marker a unit ends at the next time stamp.
TEST(H264Assembler, WholeUnitsInAnnexBWithTheDescriptionsParameterSets) {
  Feeder feeder;
  ASSERT_TRUE(feeder.unit(keyUnit(200000)));
  ASSERT_TRUE(feeder.unit(deltaUnit()));
  ASSERT_EQ(feeder.frames.size(), 2u);
  EXPECT_TRUE(feeder.frames[0].key);
  EXPECT_EQ(feeder.frames[0].bytes, kStart + kSps + kStart + kPps + kStart + nal(5, 200000));
  EXPECT_EQ(feeder.frames[0].timestamp, 0xfffff000u);
  EXPECT_FALSE(feeder.frames[1].key);
  EXPECT_EQ(feeder.frames[1].bytes, kStart + nal(1, 300));
  EXPECT_EQ(feeder.dropped, 0);
  Feeder bare;  // has seen no parameter sets in the stream
  bare.assembler.setParameterSets({kSps, kPps});
  ASSERT_TRUE(bare.push(rtpPacket(1, 100, false, nal(5, 100))));
  ASSERT_TRUE(bare.push(rtpPacket(2, 200, false, nal(1, 10))));
  ASSERT_EQ(bare.frames.size(), 1u);
  EXPECT_EQ(bare.frames[0].bytes, kStart + kSps + kStart + kPps + kStart + nal(5, 100));
  EXPECT_EQ(bare.frames[0].timestamp, 100u);
}

// Every way of losing packets (`skip` of unit `unit` of key, delta, delta, key, delta): nothing
// undecodable comes out ("-" in `shown`), losses are counted, the next key frame recovers.
TEST(H264Assembler, LostPacketsDropUnitsUntilTheNextKeyFrame) {
  using Case = std::tuple<const char*, size_t, std::set<size_t>, std::string>;
  for (const auto& [name, unit, skip, shown] :
       {Case{"none", 0, {}, "kddkd"}, Case{"middle of key frame", 0, {2}, "---kd"},
        Case{"last piece of key frame", 0, {4}, "---kd"}, Case{"whole delta frame", 1, {0}, "k--kd"},
        Case{"parameter sets of key frame", 0, {0}, "---kd"}}) {
    SCOPED_TRACE(name);
    Feeder feeder;
    const std::vector<std::string> units[] = {keyUnit(), deltaUnit(), deltaUnit(), keyUnit(), deltaUnit()};
    for (size_t i = 0; i < 5; ++i) ASSERT_TRUE(feeder.unit(units[i], i == unit ? skip : std::set<size_t>()));
    std::string got, expected = shown;
    for (const Frame& frame : feeder.frames) got += frame.key ? "k" : "d";
    expected.erase(std::remove(expected.begin(), expected.end(), '-'), expected.end());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(feeder.dropped, std::count(shown.begin(), shown.end(), '-'));
  }
}

TEST(H264Assembler, DamagedAggregatesAndFragmentsAreNeverDelivered) {
  const std::string goodStap = rtsptest::stapA({kSps, kPps, nal(5, 20)});
  for (const auto& [name, payload] :
       {std::pair<const char*, std::string>{"stap length past end", goodStap.substr(0, goodStap.size() - 5)},
        {"fu-a end without start", fuA(nal(5, 3000), 1400).back()}}) {
    Feeder feeder;
    feeder.assembler.setParameterSets({kSps, kPps});
    ASSERT_TRUE(feeder.unit({payload})) << name;
    EXPECT_TRUE(feeder.frames.empty()) << name;
    EXPECT_EQ(feeder.dropped, 1) << name;
  }
}

// A NAL unit over its cap, or an access unit of many slices over its cap, ends the stream.
TEST(H264Assembler, UnitsOverTheirCapsEndTheStream) {
  for (const auto& [slices, size] : {std::pair<int, size_t>{1, H264Assembler::kMaxNalUnit + 10}, {10, 1000000}}) {
    Feeder feeder;
    bool fine = true;
    for (int i = 0; i < slices && fine; ++i)
      for (const auto& piece : fuA(nal(5, size), 60000))
        fine = fine && feeder.push(rtpPacket(feeder.sequence++, 1, false, piece));
    EXPECT_FALSE(fine) << slices;
    EXPECT_TRUE(feeder.frames.empty());
  }
}

// ---------------------------------------------------------------------------------------------
// Texts
using Talvo::rtsp::AnswerParse;

TEST(RtspAnswerParse, ReadsTheAnswerAtTheFront) {
  const std::string bigHead = "RTSP/1.0 200 OK\r\nX: " + std::string(Talvo::rtsp::kMaxAnswerHead, 'a') + "\r\n\r\n";
  using Case = std::tuple<const char*, std::string, AnswerParse, int, std::string>;
  for (const auto& [name, bytes, expected, status, body] :
       {Case{"no_body", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n$rest", AnswerParse::Done, 200, ""},
        Case{"body", "RTSP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nv=0$rest", AnswerParse::Done, 200, "v=0"},
        Case{"no_reason", "RTSP/1.0 401\r\n\r\n$rest", AnswerParse::Done, 401, ""},
        Case{"head_incomplete", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", AnswerParse::NeedMore, 0, ""},
        Case{"body_incomplete", "RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nv=0", AnswerParse::NeedMore, 0, ""},
        Case{"http_answer", "HTTP/1.1 200 OK\r\n\r\n", AnswerParse::Bad, 0, ""},
        Case{"bad_length", "RTSP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", AnswerParse::Bad, 0, ""},
        Case{"body_over_cap", "RTSP/1.0 200 OK\r\nContent-Length: 65537\r\n\r\n", AnswerParse::TooLarge, 0, ""},
        Case{"head_over_cap", bigHead, AnswerParse::TooLarge, 0, ""},
        Case{"garbage", "\x01\x02\x03\r\n\r\n", AnswerParse::Bad, 0, ""}}) {
    SCOPED_TRACE(name);
    Talvo::rtsp::RtspAnswer answer;
    size_t consumed = 0;
    const AnswerParse result = Talvo::rtsp::parseAnswer(bytes.data(), bytes.data() + bytes.size(), answer, consumed);
    ASSERT_EQ(result, expected);
    if (result != AnswerParse::Done) continue;
    EXPECT_EQ(answer.status, status);
    EXPECT_EQ(answer.body, body);
    EXPECT_EQ(bytes.substr(consumed), "$rest") << "the answer ends where its body ends";
  }
}

TEST(RtspSessionHeader, IdAndTimeOut) {
  using Case = std::tuple<std::string, bool, std::string, int>;
  for (const auto& [value, ok, id, timeout] :
       {Case{"12345678;timeout=20", true, "12345678", 20}, Case{"abc", true, "abc", 60},
        Case{"abc ; timeout=x", true, "abc", 60}, Case{"", false, "", 60}, Case{"s1;Timeout=0", true, "s1", 1}}) {
    Talvo::rtsp::SessionHeader session;
    EXPECT_EQ(Talvo::rtsp::parseSessionHeader(value, session), ok) << value;
    if (!ok) continue;
    EXPECT_EQ(session.id, id) << value;
    EXPECT_EQ(session.timeoutSeconds, timeout) << value;
  }
}

TEST(SdpDescription, TheFirstH264VideoMediumAndBadSetsSkipped) {
  const std::string sdp =
      "v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=cam\r\na=control:rtsp://10.0.0.1/vantrel.h264\r\n"
      "m=audio 0 RTP/AVP 0\r\na=control:audio\r\n"
      "m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\na=control:jpeg\r\n"
      "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
      "a=fmtp:96 packetization-mode=1;profile-level-id=42e01f;sprop-parameter-sets=Z0LAH9kA,aM4PyA==\r\n"
      "a=control:trackID=1\r\n"
      "m=video 0 RTP/AVP 97\r\na=rtpmap:97 H264/90000\r\na=control:second\r\n";
  Talvo::rtsp::SdpDescription description;
  ASSERT_TRUE(Talvo::rtsp::parseSdp(sdp, description));
  EXPECT_EQ(description.control, "rtsp://10.0.0.1/vantrel.h264");
  EXPECT_EQ(description.video.payloadType, 96);
  EXPECT_EQ(description.video.control, "trackID=1");
  ASSERT_EQ(description.video.parameterSets.size(), 2u);
  EXPECT_EQ(description.video.parameterSets[0], std::string("\x67\x42\xc0\x1f\xd9\x00", 6));
  EXPECT_EQ(description.video.parameterSets[1], std::string("\x68\xce\x0f\xc8", 4));
  // Refused without H.264 over RTP/AVP; sets that do not decode are skipped.
  EXPECT_FALSE(Talvo::rtsp::parseSdp("v=0\nm=video 0 RTP/AVP 26\na=rtpmap:26 JPEG/90000\n", description));
  EXPECT_FALSE(Talvo::rtsp::parseSdp("v=0\nm=video 0 RTP/SAVP 96\na=rtpmap:96 H264/90000\n", description));
  EXPECT_FALSE(Talvo::rtsp::parseSdp("", description));
  ASSERT_TRUE(Talvo::rtsp::parseSdp(
      "m=video 0 RTP/AVP 96\na=rtpmap:96 h264/90000\na=fmtp:96 sprop-parameter-sets=!!!,,aM4PyA==\n", description));
  EXPECT_EQ(description.video.parameterSets, std::vector<std::string>({std::string("\x68\xce\x0f\xc8", 4)}));
  EXPECT_EQ(description.video.control, "");
}

TEST(SdpDescription, ControlUrls) {
  using Case = std::tuple<std::string, std::string, std::string>;
  for (const auto& [base, control, expected] :
       {Case{"rtsp://h/v.h264/", "track1", "rtsp://h/v.h264/track1"},
        Case{"rtsp://h/v.h264", "track1", "rtsp://h/v.h264/track1"},
        Case{"rtsp://h/v.h264/", "/track1", "rtsp://h/v.h264/track1"},
        Case{"rtsp://h/v.h264", "rtsp://other/x", "rtsp://other/x"},
        Case{"rtsp://h/v.h264", "RTSP://other/x", "RTSP://other/x"}, Case{"rtsp://h/v.h264", "*", "rtsp://h/v.h264"},
        Case{"rtsp://h/v.h264", "", "rtsp://h/v.h264"}})
    EXPECT_EQ(Talvo::rtsp::resolveControl(base, control), expected) << base << " + " << control;
}

// ---------------------------------------------------------------------------------------------
// The RTSP client against a scripted RTSP server on loopback.

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
  Talvo::Utility::VideoSinkParams sink{&handler, &factory, nullptr, &reportNextFailure, 1, 1, &statistic};
  Talvo::Utility::RtspTimeouts timeouts;
  boost::asio::io_context io;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work{io.get_executor()};
  Talvo::Utility::RTSPClient client{io, owner, sink};
  std::thread worker{[this] { io.run(); }};
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<boost::system::error_code> ended;
};

TEST(RtspPort, FromTheConnectionTextsQueryItem) {
  using Case = std::pair<std::string, uint16_t>;
  for (const auto& [text, port] : {Case{"http://u:p@cam:80/", 554}, Case{"http://u:p@cam:80/?rtsp_port=8554", 8554},
                                   Case{"http://cam/?a=1&rtsp_port=10554&b=2", 10554},
                                   Case{"http://cam/?rtsp_port=0", 554}, Case{"http://cam/?rtsp_port=70000", 554},
                                   Case{"http://cam/?rtsp_port=x", 554}, Case{"http://cam/?my_rtsp_port=9", 554}}) {
    Talvo::asio::ConnectionInfo info = Talvo::asio::parseConnectionInfo(text);
    Talvo::Utility::setDefaultRtspPort(info);
    EXPECT_EQ(info.port, port) << text;
  }
}

class RTSPClientAuthTest : public RTSPClientTest, public ::testing::WithParamInterface<RtspPeer::Auth> {};

TEST_P(RTSPClientAuthTest, PlaysAfterAnsweringTheChallengeOnceAndKeepsTheSessionAlive) {
  RtspPeer::Script script;
  script.auth = GetParam();
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

INSTANTIATE_TEST_SUITE_P(Schemes, RTSPClientAuthTest, ::testing::Values(RtspPeer::Auth::Digest, RtspPeer::Auth::Basic),
                         [](const auto& info) { return info.param == RtspPeer::Auth::Digest ? "Digest" : "Basic"; });

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

// Packets keep coming but none makes a picture (delta frames after a loss, no key frame): the silence
// guard ends the session long before the packets stop. (A silent server: VideoSourceRTSPTest.)
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

// A lost packet (a piece of the first key frame), or sequence numbers that jump (a server
// restarted behind the kept session, a new SSRC): the broken unit and the delta frames after it
// never reach the host and are counted out of sync; pictures resume at the next key frame.
TEST_F(RTSPClientTest, ALostPacketOrASequenceJumpResumesAtTheNextKeyFrame) {
  auto lost = stream(10, 5);
  lost.erase(lost.begin() + 2);
  const auto jumpTo = [](uint16_t after) {  // 10 frames, then 10 from `after` on
    auto packets = stream(10, 5);
    for (const std::string& packet : stream(10, 5, 5000, after)) packets.push_back(packet);
    return packets;
  };
  // Pictures shown, the first key frame among them.
  using Case = std::tuple<const char*, std::vector<std::string>, size_t, size_t>;
  for (const auto& [what, packets, frames, keyAt] :
       {Case{"lost packet", lost, 5, 0}, Case{"forwards by 40000", jumpTo(40100), 15, 10},
        Case{"backwards by 1000", jumpTo(static_cast<uint16_t>(100 - 1000)), 15, 10}}) {
    SCOPED_TRACE(what);
    RtspPeer::Script script;
    script.sprop = "Z0LAH9kA,aM4PyA==";
    script.packets = packets;
    RtspPeer peer(script);
    const size_t before = handler.snapshot(&RecordingVideoHandler::frames).size();
    start(peer);
    ASSERT_TRUE(handler.waitForFrames(before + frames, 10s)) << logger.dump();
    EXPECT_TRUE(handler.snapshot(&RecordingVideoHandler::frames)[before + keyAt].key);
    restart();
    EXPECT_EQ(handler.snapshot(&RecordingVideoHandler::frames).size(), before + frames);
    EXPECT_TRUE(peer.waitForRequests("TEARDOWN", 1, 5s));
  }
  EXPECT_EQ(statistic.totalOutOfSync(), 5u + 6u + 6u);
}

}  // namespace
