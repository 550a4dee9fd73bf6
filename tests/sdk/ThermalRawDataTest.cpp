// Thermal raw data from ZLT blocks (both sensors' blocks interleaved: SdkMainTest): order,
// compression, headers that do not belong, data too short, and the conversion to temperatures.
#include "ZL_ThermalRawDataImpl.h"
#include "Zelta_ThermalKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "SdkTestDoubles.h"
#include "StreamBuilder.h"
#include "Zelta_Decoder.h"
#include "Zelta_ImageImpl_SDK.h"
#include "Zelta_ThermalFrameCollector.h"

using namespace Zelta;
namespace sb = streambuilder;

namespace {

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// A scene: background at `celsius`, the pixel (x, y) at x + y / 10 degrees above it.
std::vector<uint16_t> scene(unsigned width, unsigned height, double celsius) {
  std::vector<uint16_t> raw(static_cast<size_t>(width) * height);
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) raw[y * width + x] = sb::rawFor(celsius + (x % 50) + (y % 10) / 10.0);
  return raw;
}

// The raw data of a frame held in one segment (header and data as the collector hands them over).
std::unique_ptr<ZL_ThermalRawDataImpl> loaded(const std::string& segment) {
  auto data = std::make_unique<ZL_ThermalRawDataImpl>(bytes(segment));
  EXPECT_TRUE(data->appendBlock(bytes(segment), bytes(segment) + 12, segment.size() - 12));
  return data;
}

std::vector<float> expectedCelsius(const std::vector<uint16_t>& raw) {
  std::vector<float> out;
  for (const uint16_t r : raw) out.push_back(static_cast<float>((r & 0x3FFF) * 0.04 - 273.15));
  return out;
}

}  // namespace

// The collector refuses, naming why, blocks out of order or with another header than the frame's
// first, and segments that are no whole thermal block; the blocks that follow still complete it.
TEST(ThermalRawData, SegmentsThatDoNotBelongAreRefused) {
  const auto raw = scene(16, 8, 30.0);
  const auto blocks = sb::thermalSegments({.width = 16, .height = 8}, raw, 4);
  const auto third = [&](const sb::ThermalBlock& changed) {  // block 2 with another header
    return blocks[2].substr(0, 4) + sb::zlt(changed, blocks[2].substr(12));
  };
  std::string lying = blocks[2];
  lying[3] = 5;  // claims fewer bytes than the header
  const struct {
    std::string segment;
    const char* message;
  } cases[] = {
      {blocks[3], "Thermal header contains invalid block index 3, expected index was 2"},
      {third({.version = 2, .index = 2, .width = 16, .height = 8}),
       "Unsupported thermal header version - please check for a more recent version of the SDK"},
      {third({.index = 2, .advancedRadiometry = false, .width = 16, .height = 8}),
       "Thermal header contains invalid ar raidiometry flag: got:0 !=  expected: 1"},
      {third({.index = 2, .compressed = true, .width = 16, .height = 8}),
       "Thermal header contains invalid compression flag: got:1 !=  expected: 0"},
      {third({.index = 2, .width = 17, .height = 8}),
       "Thermal header contains invalid size: got:17x8 !=  expected: 16x8"},
      {blocks[2].substr(0, 11), ""},
      {lying, ""},
      {sb::com(std::string("ZLF\0xxxxxxxx", 12)), ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    PrintCapture capture;
    Zelta_ThermalFrameCollector collector;
    for (const int block : {0, 1}) ASSERT_TRUE(collector.addSegment(bytes(blocks[block]), blocks[block].size()));
    EXPECT_FALSE(collector.addSegment(c.segment.empty() ? nullptr : bytes(c.segment), c.segment.size()));
    EXPECT_TRUE(!*c.message || capture.has(c.message)) << c.message;
    for (const int block : {2, 3}) EXPECT_TRUE(collector.addSegment(bytes(blocks[block]), blocks[block].size()));
    const auto objects = collector.finish();
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0]->getTemperatures(ZLT_Celsius), expectedCelsius(raw));
  }
}

TEST(ThermalRawData, PixelsWithoutATemperature) {
  PrintCapture capture;
  sb::ThermalBlock block{.width = 4, .height = 4};
  EXPECT_TRUE(
      std::isnan(loaded(sb::thermalSegments(block, std::vector<uint16_t>(16))[0])->getTemperature(4, 0, ZLT_Celsius)));
  EXPECT_TRUE(capture.has("Invalid pixel coordinate 4x0"));
  block.advancedRadiometry = false;
  const auto noRadiometry = loaded(sb::thermalSegments(block, std::vector<uint16_t>(16))[0]);
  EXPECT_TRUE(std::isnan(noRadiometry->getTemperature(0, 0, ZLT_Celsius)));
  EXPECT_TRUE(noRadiometry->getTemperatures(ZLT_Celsius).empty());
  EXPECT_EQ(capture.count("Conversion to absolute temperatures only supported for sensors with advanced radiometry "
                          "support"),
            2u);
}

// One decoder, picture after picture, buffers from its pool: a held frame keeps its bytes while later
// ones (also broken and short ones, leaving stale bytes behind) are decoded, each reading only its
// own. Data shorter than width × height × 2 (also decompressed) yields no temperatures, one message.
TEST(ThermalRawData, PooledBuffersServeFrameAfterFrameWithoutMixingThem) {
  struct Frame {
    double celsius;  // the scene's background
    bool compressed;
    size_t pixels;  // of the 64 × 48 the header announces; fewer: no temperatures
    bool corrupt;   // LZ4 data that does not decompress
  };
  const Frame frames[] = {{20.0, true, 64 * 48, false}, {31.0, true, 1000, false},     {32.0, true, 64 * 48, true},
                          {-5.0, true, 64 * 48, false}, {40.0, false, 64 * 48, false}, {41.0, false, 100, false},
                          {12.5, true, 64 * 48, false}};
  PrintCapture capture;
  Zelta_Decoder decoder;
  std::vector<std::pair<std::shared_ptr<ZL_ThermalRawData>, std::vector<float>>> held;  // kept to the end
  for (const Frame& f : frames) {
    SCOPED_TRACE(f.celsius);
    const bool expectValues = f.pixels == 64 * 48 && !f.corrupt;
    const auto raw = scene(64, 48, f.celsius);
    auto segments = sb::thermalSegments({.compressed = f.compressed, .width = 64, .height = 48},
                                        {raw.begin(), raw.begin() + f.pixels}, 3);
    if (f.corrupt) segments[0].replace(12, 3, "\x00\xFF\xFF", 3);  // a first match 65535 bytes back
    std::vector<std::string> payloads;
    for (const auto& segment : segments) payloads.push_back(segment.substr(4));
    const std::string picture = sb::picture(payloads, 3000);
    auto image =
        std::make_unique<Zelta_ImageImpl_SDK>(bytes(picture), picture.size(), Zelta_ImageMode_Jpeg, decoder.buffers());
    ASSERT_TRUE(decoder.decode(*image));
    const auto data = image->thermalRawData(0);
    ASSERT_TRUE(data);
    image.reset();  // the picture's buffer goes back; the raw data lives on
    std::vector<float> celsius;
    ASSERT_EQ(data->getTemperatures(ZLT_Celsius, celsius), expectValues);
    if (expectValues) {
      EXPECT_EQ(celsius, expectedCelsius(raw));
      EXPECT_TRUE(std::equal(raw.begin(), raw.end(), data->data()));
      held.emplace_back(data, celsius);
    } else {
      EXPECT_TRUE(data->getTemperatures(ZLT_Fahrenheit).empty());
      EXPECT_TRUE(std::isnan(data->getTemperature(63, 47, ZLT_Celsius)));
      EXPECT_EQ(data->data(), nullptr);
    }
  }
  EXPECT_EQ(capture.count("Thermal data too short, no temperatures: got 2000 bytes, expected 6144"), 1u);
  EXPECT_TRUE(capture.has("Decompression failed after reading 4 bytes"));
  EXPECT_EQ(capture.count("Thermal data too short, no temperatures: got 200 bytes, expected 6144"), 1u);
  for (const auto& [data, celsius] : held)
    EXPECT_EQ(data->getTemperatures(ZLT_Celsius), celsius) << "a frame was written while held";
  held.clear();
  EXPECT_LE(decoder.buffers()->bytes.waiting(), Zelta_FrameBuffers::kKeptBytes);
  EXPECT_GT(decoder.buffers()->bytes.waiting(), 0u) << "released frames give their buffers back";
}

// Every whole-frame conversion this processor runs (also the baseline loops), and the raw data over
// them, give exactly the float of the single pixel's double formula for every 14-bit raw value, both
// gains and units, from planes, pairs and values; bits above the 14 are ignored and reported.
TEST(ThermalRawData, EveryRawValueConvertsExactlyInEveryImplementation) {
  constexpr size_t kValues = 128 * 128;
  std::vector<uint16_t> raw(kValues);
  std::vector<uint8_t> low(kValues), high(kValues), pairs(2 * kValues);
  for (size_t v = 0; v < kValues; ++v) {
    raw[v] = static_cast<uint16_t>(v | (v % 3 == 0 ? 0xC000 : 0));  // high bits that must be ignored
    low[v] = pairs[2 * v] = static_cast<uint8_t>(raw[v]);
    high[v] = pairs[2 * v + 1] = static_cast<uint8_t>(raw[v] >> 8);
  }
  const auto exact = [](size_t v, int gain) { return v * (gain == 0 ? 0.04 : 0.4) - 273.15; };
  EXPECT_STREQ(celsiusKernels().back().name, "baseline") << "the baseline is always there";
  for (const Zelta_CelsiusKernels& kernels : celsiusKernels()) {
    for (const int gain : {0, 1}) {
      std::vector<float> fromPlanes(kValues), fromPairs(kValues), fromValues(kValues);
      EXPECT_EQ(kernels.fromPlanes(low.data(), high.data(), fromPlanes.data(), kValues, celsiusScale(gain)), 0xC000);
      EXPECT_EQ(kernels.fromPairs(pairs.data(), fromPairs.data(), kValues, celsiusScale(gain)), 0xC000);
      EXPECT_EQ(kernels.fromValues(raw.data(), fromValues.data(), kValues, celsiusScale(gain)), 0xC000);
      for (size_t v = 0; v < kValues; ++v) {
        const float expected = static_cast<float>(exact(v, gain));
        ASSERT_EQ((std::array<float, 3>{fromPlanes[v], fromPairs[v], fromValues[v]}),
                  (std::array<float, 3>{expected, expected, expected}))
            << kernels.name << ", gain " << gain << ", raw " << v;
      }
    }
    // Bits above the 14 in one value only, at each place of a vector step and in the tail.
    for (const size_t at : {size_t{0}, size_t{31}, size_t{32}, size_t{8000}, kValues - 1}) {
      std::vector<uint8_t> oneHigh(kValues, 0x3F);
      oneHigh[at] = 0x40;
      std::vector<float> out(kValues);
      EXPECT_EQ(kernels.fromPlanes(low.data(), oneHigh.data(), out.data(), kValues, celsiusScale(0)), 0x4000)
          << kernels.name << " " << at;
      oneHigh[at] = 0x3F;
      EXPECT_EQ(kernels.fromPlanes(low.data(), oneHigh.data(), out.data(), kValues, celsiusScale(0)), 0)
          << kernels.name << " " << at;
    }
  }
  for (const int gain : {0, 1})
    for (const bool compressed : {true, false}) {
      const sb::ThermalBlock block{.compressed = compressed, .gainFlag = gain == 0, .width = 128, .height = 128};
      const auto data = loaded(sb::thermalSegments(block, raw)[0]);
      const std::vector<float> celsius = data->getTemperatures(ZLT_Celsius);
      const std::vector<float> fahrenheit = data->getTemperatures(ZLT_Fahrenheit);
      ASSERT_EQ(std::make_pair(celsius.size(), fahrenheit.size()), std::make_pair(raw.size(), raw.size()));
      for (unsigned v = 0; v < raw.size(); ++v) {
        const float c = static_cast<float>(exact(v, gain)), f = static_cast<float>(exact(v, gain) * 1.8 + 32);
        ASSERT_EQ((std::array<float, 4>{celsius[v], fahrenheit[v], data->getTemperature(v % 128, v / 128, ZLT_Celsius),
                                        data->getTemperature(v % 128, v / 128, ZLT_Fahrenheit)}),
                  (std::array<float, 4>{c, f, c, f}))
            << "raw " << v << " gain " << gain << " compressed " << compressed;
      }
    }
}
