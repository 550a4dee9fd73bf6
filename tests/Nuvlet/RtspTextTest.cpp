// What the RTSP client reads from texts: answers, the Session header and the stream description.
#include "Nuvlet/include/RtspAnswer.h"
#include "Nuvlet/include/SdpDescription.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Talvo::rtsp::AnswerParse;
using Talvo::rtsp::RtspAnswer;

struct AnswerCase {
  const char* name;
  std::string bytes;
  AnswerParse expected;
  int status;
  std::string body;
};

class RtspAnswerParse : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(RtspAnswerParse, ReadsTheAnswerAtTheFront) {
  const AnswerCase& c = GetParam();
  RtspAnswer answer;
  size_t consumed = 0;
  const AnswerParse result =
      Talvo::rtsp::parseAnswer(c.bytes.data(), c.bytes.data() + c.bytes.size(), answer, consumed);
  ASSERT_EQ(result, c.expected);
  if (result != AnswerParse::Done) return;
  EXPECT_EQ(answer.status, c.status);
  EXPECT_EQ(answer.body, c.body);
  EXPECT_EQ(c.bytes.substr(consumed), "$rest") << "the answer ends where its body ends";
}

const std::string kBigHead = "RTSP/1.0 200 OK\r\nX: " + std::string(Talvo::rtsp::kMaxAnswerHead, 'a') + "\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, RtspAnswerParse,
    ::testing::Values(
        AnswerCase{"no_body", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n$rest", AnswerParse::Done, 200, ""},
        AnswerCase{"body", "RTSP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nv=0$rest", AnswerParse::Done, 200, "v=0"},
        AnswerCase{"no_reason", "RTSP/1.0 401\r\n\r\n$rest", AnswerParse::Done, 401, ""},
        AnswerCase{"head_incomplete", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", AnswerParse::NeedMore, 0, ""},
        AnswerCase{"body_incomplete", "RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nv=0", AnswerParse::NeedMore, 0, ""},
        AnswerCase{"http_answer", "HTTP/1.1 200 OK\r\n\r\n", AnswerParse::Bad, 0, ""},
        AnswerCase{"bad_length", "RTSP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", AnswerParse::Bad, 0, ""},
        AnswerCase{"body_over_cap", "RTSP/1.0 200 OK\r\nContent-Length: 65537\r\n\r\n", AnswerParse::TooLarge, 0, ""},
        AnswerCase{"head_over_cap", kBigHead, AnswerParse::TooLarge, 0, ""},
        AnswerCase{"garbage", "\x01\x02\x03\r\n\r\n", AnswerParse::Bad, 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

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
