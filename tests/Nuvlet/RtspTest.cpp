// What the RTSP client reads: answers, the Session header and the stream description; RTP packets
// and the H.264 access units assembled from them.
#include "Nuvlet/include/RtpH264.h"
#include "Nuvlet/include/RtspAnswer.h"
#include "Nuvlet/include/SdpDescription.h"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RtspPeer.h"

namespace {

using rtsptest::fuA;
using rtsptest::nal;
using rtsptest::rtpPacket;
using rtsptest::stapA;
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
  for (const std::string& bad : {good.substr(0, 11), "\x40" + good.substr(1), "\x8f" + good.substr(1),
                                 "\x90" + good.substr(1), "\xa0" + good.substr(1, 11) + "\xff",
                                 "\xa0" + good.substr(1, 11) + std::string(1, '\0')})
    EXPECT_FALSE(Talvo::rtsp::parseRtpPacket(reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), parsed))
        << ::testing::PrintToString(bad);
}

TEST(H264Assembler, KeyFrameFromStapAAndManyFuAPiecesComesWholeInAnnexB) {
  Feeder feeder;
  ASSERT_TRUE(feeder.unit(keyUnit(200000)));  // about 140 FU-A pieces
  ASSERT_TRUE(feeder.unit(deltaUnit()));
  ASSERT_EQ(feeder.frames.size(), 2u);
  EXPECT_TRUE(feeder.frames[0].key);
  EXPECT_EQ(feeder.frames[0].bytes, kStart + kSps + kStart + kPps + kStart + nal(5, 200000));
  EXPECT_EQ(feeder.frames[0].timestamp, 0xfffff000u);
  EXPECT_FALSE(feeder.frames[1].key);
  EXPECT_EQ(feeder.frames[1].bytes, kStart + nal(1, 300));
  EXPECT_EQ(feeder.dropped, 0);
}

// A bare key frame gets the description's parameter sets in front; without its marker a unit ends
// at the next time stamp.
TEST(H264Assembler, ParameterSetsFromTheDescriptionAndUnitsEndingAtANewTimeStamp) {
  Feeder feeder;
  feeder.assembler.setParameterSets({kSps, kPps});
  ASSERT_TRUE(feeder.push(rtpPacket(1, 100, false, nal(5, 100))));
  ASSERT_TRUE(feeder.push(rtpPacket(2, 200, false, nal(1, 10))));
  ASSERT_EQ(feeder.frames.size(), 1u);
  EXPECT_EQ(feeder.frames[0].bytes, kStart + kSps + kStart + kPps + kStart + nal(5, 100));
  EXPECT_EQ(feeder.frames[0].timestamp, 100u);
}

// Every way of losing packets: nothing undecodable comes out, what is lost is counted, and
// the stream recovers at the next key frame.
TEST(H264Assembler, LostPacketsDropUnitsUntilTheNextKeyFrame) {
  struct Case {
    const char* name;
    std::vector<std::set<size_t>> skips;  // per unit of key, delta, delta, key, delta
    std::vector<bool> delivered;          // which units come out
  };
  const std::vector<Case> cases = {
      {"none", {{}, {}, {}, {}, {}}, {true, true, true, true, true}},
      {"middle of key frame", {{2}, {}, {}, {}, {}}, {false, false, false, true, true}},
      {"last piece of key frame", {{4}, {}, {}, {}, {}}, {false, false, false, true, true}},
      {"whole delta frame", {{}, {0}, {}, {}, {}}, {true, false, false, true, true}},
      {"parameter sets of key frame", {{0}, {}, {}, {}, {}}, {false, false, false, true, true}},
  };
  for (const Case& c : cases) {
    Feeder feeder;
    std::vector<std::vector<std::string>> units = {keyUnit(), deltaUnit(), deltaUnit(), keyUnit(), deltaUnit()};
    std::vector<std::string> expected;
    for (size_t i = 0; i < units.size(); ++i) {
      ASSERT_TRUE(feeder.unit(units[i], c.skips[i])) << c.name;
      if (c.delivered[i]) expected.push_back(i == 0 || i == 3 ? "key" : "delta");
    }
    std::vector<std::string> got;
    for (const Frame& frame : feeder.frames) got.push_back(frame.key ? "key" : "delta");
    EXPECT_EQ(got, expected) << c.name;
    const int lost = static_cast<int>(std::count(c.delivered.begin(), c.delivered.end(), false));
    EXPECT_EQ(feeder.dropped, lost) << c.name;
  }
}

TEST(H264Assembler, DamagedAggregatesAndFragmentsAreNeverDelivered) {
  struct Case {
    const char* name;
    std::string payload;
  };
  const std::string goodStap = stapA({kSps, kPps, nal(5, 20)});
  for (const Case& c : {Case{"stap length past end", goodStap.substr(0, goodStap.size() - 5)},
                        Case{"fu-a end without start", fuA(nal(5, 3000), 1400).back()}}) {
    Feeder feeder;
    feeder.assembler.setParameterSets({kSps, kPps});
    ASSERT_TRUE(feeder.unit({c.payload})) << c.name;
    EXPECT_TRUE(feeder.frames.empty()) << c.name;
    EXPECT_EQ(feeder.dropped, 1) << c.name;
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
using Talvo::rtsp::RtspAnswer;

struct AnswerCase {
  const char* name;
  std::string bytes;
  AnswerParse expected;
  int status;
  std::string body;
};

TEST(RtspAnswerParse, ReadsTheAnswerAtTheFront) {
  const std::string bigHead = "RTSP/1.0 200 OK\r\nX: " + std::string(Talvo::rtsp::kMaxAnswerHead, 'a') + "\r\n\r\n";
  for (const AnswerCase& c : {
        AnswerCase{"no_body", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n$rest", AnswerParse::Done, 200, ""},
        AnswerCase{"body", "RTSP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nv=0$rest", AnswerParse::Done, 200, "v=0"},
        AnswerCase{"no_reason", "RTSP/1.0 401\r\n\r\n$rest", AnswerParse::Done, 401, ""},
        AnswerCase{"head_incomplete", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", AnswerParse::NeedMore, 0, ""},
        AnswerCase{"body_incomplete", "RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nv=0", AnswerParse::NeedMore, 0, ""},
        AnswerCase{"http_answer", "HTTP/1.1 200 OK\r\n\r\n", AnswerParse::Bad, 0, ""},
        AnswerCase{"bad_length", "RTSP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", AnswerParse::Bad, 0, ""},
        AnswerCase{"body_over_cap", "RTSP/1.0 200 OK\r\nContent-Length: 65537\r\n\r\n", AnswerParse::TooLarge, 0, ""},
        AnswerCase{"head_over_cap", bigHead, AnswerParse::TooLarge, 0, ""},
        AnswerCase{"garbage", "\x01\x02\x03\r\n\r\n", AnswerParse::Bad, 0, ""}}) {
    SCOPED_TRACE(c.name);
    RtspAnswer answer;
    size_t consumed = 0;
    const AnswerParse result =
        Talvo::rtsp::parseAnswer(c.bytes.data(), c.bytes.data() + c.bytes.size(), answer, consumed);
    ASSERT_EQ(result, c.expected);
    if (result != AnswerParse::Done) continue;
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.body, c.body);
    EXPECT_EQ(c.bytes.substr(consumed), "$rest") << "the answer ends where its body ends";
  }
}

TEST(RtspSessionHeader, IdAndTimeOut) {
  struct Case {
    std::string value;
    bool ok;
    std::string id;
    int timeout;
  };
  for (const Case& c :
       {Case{"12345678;timeout=20", true, "12345678", 20}, Case{"abc", true, "abc", 60},
        Case{"abc ; timeout=x", true, "abc", 60}, Case{"", false, "", 60}, Case{"s1;Timeout=0", true, "s1", 1}}) {
    Talvo::rtsp::SessionHeader session;
    EXPECT_EQ(Talvo::rtsp::parseSessionHeader(c.value, session), c.ok) << c.value;
    if (!c.ok) continue;
    EXPECT_EQ(session.id, c.id) << c.value;
    EXPECT_EQ(session.timeoutSeconds, c.timeout) << c.value;
  }
}

using Talvo::rtsp::SdpDescription;

TEST(SdpDescription, TheFirstH264VideoMedium) {
  const std::string sdp =
      "v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=cam\r\na=control:rtsp://10.0.0.1/vantrel.h264\r\n"
      "m=audio 0 RTP/AVP 0\r\na=control:audio\r\n"
      "m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\na=control:jpeg\r\n"
      "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
      "a=fmtp:96 packetization-mode=1;profile-level-id=42e01f;sprop-parameter-sets=Z0LAH9kA,aM4PyA==\r\n"
      "a=control:trackID=1\r\n"
      "m=video 0 RTP/AVP 97\r\na=rtpmap:97 H264/90000\r\na=control:second\r\n";
  SdpDescription description;
  ASSERT_TRUE(Talvo::rtsp::parseSdp(sdp, description));
  EXPECT_EQ(description.control, "rtsp://10.0.0.1/vantrel.h264");
  EXPECT_EQ(description.video.payloadType, 96);
  EXPECT_EQ(description.video.control, "trackID=1");
  ASSERT_EQ(description.video.parameterSets.size(), 2u);
  EXPECT_EQ(description.video.parameterSets[0], std::string("\x67\x42\xc0\x1f\xd9\x00", 6));
  EXPECT_EQ(description.video.parameterSets[1], std::string("\x68\xce\x0f\xc8", 4));
}

TEST(SdpDescription, RefusedWithoutH264AndBadSetsSkipped) {
  SdpDescription description;
  EXPECT_FALSE(Talvo::rtsp::parseSdp("v=0\nm=video 0 RTP/AVP 26\na=rtpmap:26 JPEG/90000\n", description));
  EXPECT_FALSE(Talvo::rtsp::parseSdp("v=0\nm=video 0 RTP/SAVP 96\na=rtpmap:96 H264/90000\n", description));
  EXPECT_FALSE(Talvo::rtsp::parseSdp("", description));
  ASSERT_TRUE(Talvo::rtsp::parseSdp(
      "m=video 0 RTP/AVP 96\na=rtpmap:96 h264/90000\na=fmtp:96 sprop-parameter-sets=!!!,,aM4PyA==\n", description));
  EXPECT_EQ(description.video.parameterSets, std::vector<std::string>({std::string("\x68\xce\x0f\xc8", 4)}));
  EXPECT_EQ(description.video.control, "");
}

TEST(SdpDescription, ControlUrls) {
  struct Case {
    std::string base, control, expected;
  };
  for (const Case& c :
       {Case{"rtsp://h/v.h264/", "track1", "rtsp://h/v.h264/track1"},
        Case{"rtsp://h/v.h264", "track1", "rtsp://h/v.h264/track1"},
        Case{"rtsp://h/v.h264/", "/track1", "rtsp://h/v.h264/track1"},
        Case{"rtsp://h/v.h264", "rtsp://other/x", "rtsp://other/x"},
        Case{"rtsp://h/v.h264", "RTSP://other/x", "RTSP://other/x"}, Case{"rtsp://h/v.h264", "*", "rtsp://h/v.h264"},
        Case{"rtsp://h/v.h264", "", "rtsp://h/v.h264"}})
    EXPECT_EQ(Talvo::rtsp::resolveControl(c.base, c.control), c.expected) << c.base << " + " << c.control;
}

}  // namespace
