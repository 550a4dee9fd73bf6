// `live` against the fake module's video and audio sources.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestSupport.h"

namespace qrmhost_test {
namespace {

namespace fs = std::filesystem;

std::string fileText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The lines whose "kind" is `kind`.
std::vector<std::string> linesOfKind(const std::vector<std::string>& lines, const std::string& kind) {
  std::vector<std::string> found;
  for (const auto& line : lines)
    if (line.rfind("{\"kind\":\"" + kind + "\"", 0) == 0) found.push_back(line);
  return found;
}

// A whole-number field of a line, or -1.
long long numberField(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  const size_t at = line.find(key);
  return at == std::string::npos ? -1 : std::stoll(line.substr(at + key.size()));
}

TEST(QrmhostLive, FrameGoalStopsAndSummarisesVideoAndAudio) {
  const auto result = runQrmhost(withFakeCamera({"--log-level", "3", "live", "--frames", "3", "--audio"}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const auto lines = result.outLines();
  ASSERT_FALSE(lines.empty());
  // The video source's lines carry no "source".
  for (const char* line : {R"({"kind":"started"})", R"({"kind":"stopped"})", R"({"kind":"started","source":"audio"})",
                           R"({"kind":"stopped","source":"audio"})"})
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line << "\n" << result.out;
  const auto frames = linesOfKind(lines, "frame");
  ASSERT_GE(frames.size(), 3u) << result.out;
  EXPECT_EQ(frames[0], R"({"kind":"frame","codec":"Zelta","key":true,"size":9})");
  EXPECT_EQ(frames[1], R"({"kind":"frame","codec":"Zelta","key":false,"size":9})");
  EXPECT_EQ(frames[2], R"({"kind":"frame","codec":"MJPEG","key":true,"size":9})");
  const auto audio = linesOfKind(lines, "audio");
  ASSERT_GE(audio.size(), 1u) << result.out;
  EXPECT_EQ(audio[0], R"({"kind":"audio","size":160})");
  EXPECT_EQ(countContaining(lines, R"({"kind":"statistic","name":"video","text":"first picture sent"})"), 1u);
  EXPECT_EQ(countContaining(lines, R"({"kind":"device","state":"connected","code":0})"), 1u) << result.out;
  EXPECT_EQ(countContaining(lines, R"({"kind":"device","state":"disconnected","code":0})"), 1u) << result.out;

  const std::string summary = lines.back();
  ASSERT_EQ(summary.rfind(R"({"kind":"summary",)", 0), 0u) << summary;
  EXPECT_EQ(numberField(summary, "frames"), static_cast<long long>(frames.size()));
  EXPECT_EQ(numberField(summary, "key_frames"), static_cast<long long>(countContaining(frames, "\"key\":true")));
  EXPECT_EQ(numberField(summary, "audio_frames"), static_cast<long long>(audio.size()));
  EXPECT_EQ(numberField(summary, "failures"), 0);
  EXPECT_TRUE(contains(summary, "\"fps\":")) << summary;
  EXPECT_FALSE(contains(result.err, "never destroyed")) << result.err;
}

TEST(QrmhostLive, SaveWritesNumberedPictures) {
  const fs::path folder = fs::path(testing::TempDir()) / "qrmhost-save";
  fs::remove_all(folder);
  const auto result =
      runQrmhost(withFakeCamera({"--log-level", "3", "live", "--frames", "3", "--save", folder.string()}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(fileText(folder / "000001.jpg"), "picture 1");
  EXPECT_EQ(fileText(folder / "000002.zelta"), "picture 2");
  EXPECT_EQ(fileText(folder / "000003.jpg"), "picture 3");
  EXPECT_FALSE(fs::exists(folder / "000002.jpg"));
  fs::remove_all(folder);
}

TEST(QrmhostLive, SettingsAreTypedAndAppliedOnce) {
  const auto result = runQrmhost(
      withFakeCamera({"--log-level", "3", "live", "--frames", "1", "--set", "fps=10", "--set", "name=abc", "--set",
                      "ratio=0.5", "--set", "on=true", "--set", "code=12:string", "--set", "gain=3:double"}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const auto lines = result.outLines();
  EXPECT_EQ(countContaining(lines, R"x({"kind":"statistic","name":"settings","text":)x"
                                   R"x("fps=10(int);name=abc(string);ratio=0.5(double);on=true(bool);)x"
                                   R"x(code=12(string);gain=3(double)"})x"),
            1u)
      << result.out;
  EXPECT_EQ(linesOfKind(lines, "settings"), std::vector<std::string>{R"({"kind":"settings","code":0})"});
}

TEST(QrmhostLive, UnknownStreamExitsTwo) {
  const auto result = runQrmhost(withFakeCamera({"--log-level", "3", "live", "--stream", "9"}));
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_TRUE(contains(result.err, "no video source for channel 0 stream 9")) << result.err;
}

TEST(QrmhostLive, FactoryRefusesOversizedBuffers) {
  const auto result = runQrmhost(withFakeCamera({"live", "--frames", "1"}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_TRUE(contains(result.err, "the factory refused an oversized buffer")) << result.err;
  EXPECT_FALSE(contains(result.err, "the factory gave an oversized buffer")) << result.err;
}

TEST(QrmhostLive, TimedRunEndsByItself) {
  const auto result = runQrmhost(withFakeCamera({"--log-level", "3", "live", "--seconds", "0.1"}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.outLines().back().rfind(R"({"kind":"summary",)", 0), 0u) << result.out;
}

}  // namespace
}  // namespace qrmhost_test
