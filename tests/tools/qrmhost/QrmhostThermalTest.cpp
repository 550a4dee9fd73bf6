// `qrmhost thermal` with the real module against the simulator's thermal camera: the matrix lines
// and the heat maps, decoded again with libpng.
#include <png.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "CamsimProcess.h"
#include "HeatMap.h"
#include "ScratchFolder.h"
#include "TestSupport.h"

namespace qrmhost_test {
namespace {

struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
  qrmhost::Rgb at(uint32_t x, uint32_t y) const {
    const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
    return {p[0], p[1], p[2]};
  }
};

// An 8-bit RGB PNG; width 0 when it is not one.
Picture readPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture picture;
  if (png_image_begin_read_from_file(&image, path.c_str()) && image.format == PNG_FORMAT_RGB) {
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) {
      picture.width = image.width;
      picture.height = image.height;
    }
  }
  png_image_free(&image);
  return picture;
}

TEST(QrmhostThermalTest, PrintsMatricesAndWritesHeatMaps) {
  CamsimProcess camera({"--model", "VX-T40", "--user", "admin", "--password", "s3cr@t"});
  ASSERT_EQ(camera.request("/sim/thermal?celsius=20&hot=60,40,30,20,10").status, 200);
  ScratchFolder folder;
  const auto result = runQrmhost(against(addressOf(camera, "s3cr%40t"), "VX-T40",
                                         {"thermal", "--detector", "temperatures", "--seconds", "1.5", "--set",
                                          "ambientTemperature=21", "--heatmap", folder.path().string(), "--every", "4"}));
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_FALSE(contains(result.out + result.err, "s3cr@t"));
  const auto lines = result.outLines();
  expectOnce(result, {R"({"kind":"settings","code":0})", R"({"kind":"stopped"})"});
  size_t matrices = 0;
  for (const auto& text : lines) {
    const auto line = nlohmann::json::parse(text);
    if (line["kind"] != "matrix") continue;
    ++matrices;
    EXPECT_EQ(line["width"], 160);
    EXPECT_EQ(line["height"], 120);
    EXPECT_NEAR(line["min"].get<double>(), 20, 0.04);
    EXPECT_NEAR(line["max"].get<double>(), 60, 0.04);
    EXPECT_NEAR(line["mean"].get<double>(), 20 + 40.0 * 200 / 19200, 0.05);
  }
  ASSERT_GE(matrices, 4u) << result.out;
  EXPECT_GE(camera.requestTargets("/control/control?set&section=thermal&uhu_tcomp_configure=1+1").size(), 1u);

  std::vector<std::string> pictures;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) pictures.push_back(entry.path());
  EXPECT_EQ(pictures.size(), (matrices + 3) / 4) << "every fourth matrix";
  ASSERT_FALSE(pictures.empty());
  EXPECT_EQ(std::filesystem::path(pictures.front()).filename().string().rfind("heatmap-", 0), 0u);
  // Three pixels a value (480 wide), the hottest point (in the hot block) marked with a cross.
  const Picture picture = readPng(pictures.front());
  ASSERT_EQ(picture.width, 480u);
  ASSERT_EQ(picture.height, 360u + qrmhost::kScaleBarRows);
  const auto& scale = qrmhost::infernoScale();
  size_t marked = 0;
  for (uint32_t y = 0; y < 360; ++y)
    for (uint32_t x = 0; x < 480; ++x) {
      if (picture.at(x, y) == qrmhost::kHottestMark) {
        ++marked;
        EXPECT_TRUE(x + 6 >= 120 && x < 186 && y + 6 >= 90 && y < 126) << "a mark outside the hot block " << x << "," << y;
        continue;
      }
      const bool hot = x >= 120 && x < 180 && y >= 90 && y < 120;
      ASSERT_EQ(picture.at(x, y), hot ? scale[255] : scale[0]) << x << "," << y;
    }
  EXPECT_EQ(marked, 25u) << "a cross of arm 6";
  EXPECT_EQ(picture.at(0, 361), scale[0]) << "the scale bar starts cold";
  EXPECT_EQ(picture.at(479, 361), scale[255]) << "and ends hot";
}

// A fixed range colours every map alike; without it each map spans its own minimum and maximum.
TEST(QrmhostThermalTest, AFixedRangeKeepsColoursComparable) {
  std::vector<float> values(100, 50.0f);
  values[99] = 60.0f;
  qrmhost::HeatMapStyle style;
  style.scale = 1;
  EXPECT_EQ(qrmhost::heatMapPixels(values.data(), 10, 10, style)[0], qrmhost::infernoScale()[0].r);
  style.fixedRange = true;
  style.high = 100.0f;
  const auto pixels = qrmhost::heatMapPixels(values.data(), 10, 10, style);
  EXPECT_EQ((qrmhost::Rgb{pixels[0], pixels[1], pixels[2]}), qrmhost::infernoScale()[128]);
}

}  // namespace
}  // namespace qrmhost_test
