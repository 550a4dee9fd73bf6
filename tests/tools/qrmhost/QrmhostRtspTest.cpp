// qrmhost live on an H.264 stream: camsim's RTSP server through the real module, the saved
// stream read back by ffprobe.
#include <string>
#include <vector>

#include "CamsimProcess.h"
#include "ScratchFolder.h"
#include "TestSupport.h"

namespace qrmhost_test {
namespace {

TEST(QrmhostRtsp, LiveOnH264PrintsFramesAndSavesAStreamFfprobeDecodes) {
  const char* const password = "pw-9f3k";
  CamsimProcess camera({"--model", "VX-H30", "--user", "admin", "--password", password, "--picture", "320x240"});
  ScratchFolder folder;
  const auto result = runQrmhost(against(addressOf(camera, password) + "?rtsp_port=" + std::to_string(camera.rtspPort()),
                                         "VX-H30", {"live", "--frames", "40", "--save", folder.path().string()}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_FALSE(contains(result.out + result.err, password));
  const auto frames = linesOfKind(result, "frame");
  ASSERT_GE(frames.size(), 40u) << result.out;
  EXPECT_EQ(frames[0].rfind(R"({"kind":"frame","codec":"H264","key":true,"size":)", 0), 0u) << frames[0];
  EXPECT_GE(countContaining(frames, R"("codec":"H264","key":false)"), 1u) << result.out;

  const std::string stream = folder.file("stream.h264");
  const auto probe =
      runChild({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                "stream=codec_name,width,height,nb_read_frames", "-of", "csv=p=0", stream});
  EXPECT_EQ(probe.exitStatus, 0) << probe.err;
  EXPECT_EQ(probe.err, "") << "the stream decodes without errors";
  EXPECT_EQ(probe.out, "h264,320,240," + std::to_string(frames.size()) + "\n");
}

}  // namespace
}  // namespace qrmhost_test
