// qrmhost live on an H.264 stream: camsim's RTSP server through the real module, the saved
// stream read back by ffprobe.
#include <filesystem>
#include <string>
#include <vector>

#include "CamsimProcess.h"
#include "TestSupport.h"

namespace qrmhost_test {
namespace {

namespace fs = std::filesystem;

TEST(QrmhostRtsp, LiveOnH264PrintsFramesAndSavesAStreamFfprobeDecodes) {
  const char* const password = "pw-9f3k";
  CamsimProcess camera({"--model", "VX-H30", "--user", "admin", "--password", password, "--picture", "320x240"});
  const fs::path saveDir = fs::path(testing::TempDir()) / "qrmhost-live-h264";
  fs::remove_all(saveDir);
  const std::string address = "http://admin:" + std::string(password) +
                              "@127.0.0.1:" + std::to_string(camera.httpPort()) +
                              "/?rtsp_port=" + std::to_string(camera.rtspPort());
  const auto result =
      runQrmhost(withModule({"--log-level", "3", "--camera", address, "--model", "VX-H30", "live", "--channel", "0",
                             "--stream", "0", "--frames", "40", "--save", saveDir.string()}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_FALSE(contains(result.out + result.err, password));
  std::vector<std::string> frames;
  for (const auto& line : result.outLines())
    if (line.rfind(R"({"kind":"frame")", 0) == 0) frames.push_back(line);
  ASSERT_GE(frames.size(), 40u) << result.out;
  EXPECT_EQ(frames[0].rfind(R"({"kind":"frame","codec":"H264","key":true,"size":)", 0), 0u) << frames[0];
  EXPECT_GE(countContaining(frames, R"("codec":"H264","key":false)"), 1u) << result.out;

  const fs::path stream = saveDir / "stream.h264";
  ASSERT_TRUE(fs::exists(stream));
  const auto probe =
      runChild({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                "stream=codec_name,width,height,nb_read_frames", "-of", "csv=p=0", stream.string()});
  EXPECT_EQ(probe.exitStatus, 0) << probe.err;
  EXPECT_EQ(probe.err, "") << "the stream decodes without errors";
  EXPECT_EQ(probe.out, "h264,320,240," + std::to_string(frames.size()) + "\n");
  fs::remove_all(saveDir);
}

}  // namespace
}  // namespace qrmhost_test
