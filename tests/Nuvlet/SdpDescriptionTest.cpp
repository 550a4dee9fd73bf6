#include "Nuvlet/include/SdpDescription.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

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
