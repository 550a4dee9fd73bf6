// The pieces of qrmhost a module or a user relies on, unit by unit: the frame factory refuses sizes
// no picture comes near; the repository reader's refusals end the program with status 2;
// `--set NAME=VALUE` values are typed as the adjusters take them; output lines replace bytes that
// are not UTF-8; a heat map's colours follow its range.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ExitError.h"
#include "FrameFactory.h"
#include "HeatMap.h"
#include "JsonLine.h"
#include "Repository.h"
#include "SettingValue.h"

namespace qrmhost {
namespace {

TEST(HostObjects, FrameFactoryRefusesOversizedBuffersAndCountsLiveOnes) {
  FrameFactory factory;
  EXPECT_EQ(factory.AllocateCompressedBuffer("MJPEG", kMaxBufferSize + 1, 0, true), nullptr);
  EXPECT_EQ(factory.AllocateAudioBuffer("G.711", kMaxBufferSize + 1, 0, 64000, 0), nullptr);
  Talvo::MFF::ICompressedBuffer* picture = factory.AllocateCompressedBuffer("MJPEG", 16, 0, true);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(factory.liveBuffers(), 1);
  picture->Destroy();
  EXPECT_EQ(factory.liveBuffers(), 0);
}

TEST(HostObjects, MissingBrokenOrEmptyRepositoryIsAUsageError) {
  const std::filesystem::path path = std::filesystem::path(testing::TempDir()) / "qrmhost-test-models.rep";
  const struct {
    const char* content;  // null: no file
    const char* reason;
  } cases[] = {{nullptr, ": "}, {"{\"models\": [", ": "}, {"{\"name\": \"Fake\"}", ": it has no \"models\" list"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content ? c.content : "no file");
    std::filesystem::remove(path);
    if (c.content) std::ofstream(path) << c.content;
    try {
      readRepository(path);
      ADD_FAILURE() << "read";
    } catch (const ExitError& e) {
      EXPECT_EQ(e.status(), kExitUsage);
      EXPECT_EQ(std::string(e.what()).rfind("cannot read repository " + path.string() + c.reason, 0), 0u) << e.what();
    }
  }
  std::filesystem::remove(path);
}

TEST(SettingValue, GuessedOrForcedType) {
  const struct {
    const char* text;
    std::variant<int, bool, double, std::string> value;
  } cases[] = {
      {"fps=25", 25}, {"offset=-3", -3}, {"on=true", true}, {"gain=1.5", 1.5}, {"big=99999999999", 99999999999.0},
      {"mode=night", std::string("night")}, {"when=12:30", std::string("12:30")}, {"odd=nan", std::string("nan")},
      {"empty=", std::string("")}, {"a=b=c", std::string("b=c")}, {"code=12:string", std::string("12")},
      {"gain=3:double", 3.0}, {"n=7:int", 7}, {"on=false:bool", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const SettingValue setting = parseSetting(c.text);
    EXPECT_EQ(setting.name, std::string(c.text).substr(0, std::string(c.text).find('=')));
    EXPECT_EQ(setting.value, c.value);
  }
  for (const char* bad : {"n=7.5:int", "on=yes:bool", "g=x:double", "=5", "novalue"})
    EXPECT_THROW(parseSetting(bad), ExitError) << bad;
}

TEST(JsonLine, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  JsonObject line = kindLine("frame");
  line["codec"] = std::string("caf\xc3\xa9 bad\xff");
  EXPECT_EQ(lineText(line), "{\"kind\":\"frame\",\"codec\":\"caf\xc3\xa9 bad\xef\xbf\xbd\"}");
}

// A fixed range colours every map alike; without it each map spans its own minimum and maximum.
TEST(HeatMap, AFixedRangeKeepsColoursComparable) {
  std::vector<float> values(100, 50.0f);
  values[99] = 60.0f;
  HeatMapStyle style;
  style.scale = 1;
  EXPECT_EQ(heatMapPixels(values.data(), 10, 10, style)[0], infernoScale()[0].r);
  style.fixedRange = true;
  style.high = 100.0f;
  const auto pixels = heatMapPixels(values.data(), 10, 10, style);
  EXPECT_EQ((Rgb{pixels[0], pixels[1], pixels[2]}), infernoScale()[128]);
}

}  // namespace
}  // namespace qrmhost
