// Thermal raw data from ZLT blocks: blocks in and out of order, both sensors, compressed or not,
// headers that do not belong, data too short, and the conversion to temperatures.
#include "ZL_ThermalRawDataImpl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PrintCapture.h"
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

sb::ThermalBlock header(unsigned width, unsigned height, bool compressed, int sensor = 0) {
  sb::ThermalBlock block;
  block.width = width;
  block.height = height;
  block.compressed = compressed;
  block.sensor = sensor;
  return block;
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

TEST(ThermalRawData, BothSensorsCompressedOrNotGiveTheSceneBack) {
  for (const bool compressed : {false, true}) {
    for (const int blocks : {1, 3}) {
      SCOPED_TRACE(std::to_string(compressed) + " " + std::to_string(blocks));
      PrintCapture capture;
      const auto raw0 = scene(160, 120, 20.0);
      const auto raw1 = scene(80, 60, -5.0);
      Zelta_ThermalFrameCollector collector;
      const auto first = sb::thermalSegments(header(160, 120, compressed, 0), raw0, blocks);
      const auto second = sb::thermalSegments(header(80, 60, compressed, 1), raw1, blocks);
      for (size_t i = 0; i < first.size(); ++i) {  // the sensors' blocks interleaved, sensor 1 first
        ASSERT_TRUE(collector.addSegment(bytes(second[i]), second[i].size()));
        ASSERT_TRUE(collector.addSegment(bytes(first[i]), first[i].size()));
      }
      const auto objects = collector.finish();
      ASSERT_EQ(objects.size(), 2u);
      EXPECT_EQ(objects[0]->sensor(), 0);
      EXPECT_EQ(objects[1]->sensor(), 1);
      EXPECT_EQ(objects[0]->getTemperatures(ZLT_Celsius), expectedCelsius(raw0));
      EXPECT_EQ(objects[1]->getTemperatures(ZLT_Celsius), expectedCelsius(raw1));
      EXPECT_TRUE(capture.messages().empty());
      EXPECT_TRUE(collector.finish().empty()) << "the slots are emptied";
    }
  }
}

TEST(ThermalRawData, BlocksOutOfOrderAreDropped) {
  PrintCapture capture;
  const auto raw = scene(16, 8, 30.0);
  const auto segments = sb::thermalSegments(header(16, 8, false), raw, 4);
  Zelta_ThermalFrameCollector collector;
  const int order[] = {0, 1, 3, 2, 3};
  const bool accepted[] = {true, true, false, true, true};
  for (size_t i = 0; i < 5; ++i)
    EXPECT_EQ(collector.addSegment(bytes(segments[order[i]]), segments[order[i]].size()), accepted[i]) << i;
  EXPECT_TRUE(capture.has("Thermal header contains invalid block index 3, expected index was 2"));
  EXPECT_TRUE(capture.has("Invalid thermal data - header does not match expected type. dropping header block index 3"));
  const auto objects = collector.finish();
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0]->getTemperatures(ZLT_Celsius), expectedCelsius(raw));
}

TEST(ThermalRawData, BlocksThatDoNotBelongAreDropped) {
  struct Case {
    const char* name;
    std::function<void(sb::ThermalBlock&)> change;
    const char* message;
  };
  const Case cases[] = {
      {"version", [](sb::ThermalBlock& b) { b.version = 2; },
       "Unsupported thermal header version - please check for a more recent version of the SDK"},
      {"radiometry", [](sb::ThermalBlock& b) { b.advancedRadiometry = false; },
       "Thermal header contains invalid ar raidiometry flag: got:0 !=  expected: 1"},
      {"compression", [](sb::ThermalBlock& b) { b.compressed = true; },
       "Thermal header contains invalid compression flag: got:1 !=  expected: 0"},
      {"size", [](sb::ThermalBlock& b) { b.width = 17; },
       "Thermal header contains invalid size: got:17x8 !=  expected: 16x8"},
  };
  for (const auto& c : cases) {
    PrintCapture capture;
    const std::string first = sb::com(sb::zlt(header(16, 8, false), std::string(100, '\1')));
    sb::ThermalBlock other = header(16, 8, false);
    other.index = 1;
    c.change(other);
    const std::string second = sb::com(sb::zlt(other, std::string(156, '\1')));
    const auto data = loaded(first);
    EXPECT_FALSE(data->appendBlock(bytes(second), bytes(second) + 12, second.size() - 12)) << c.name;
    EXPECT_TRUE(capture.has(c.message)) << c.name;
    EXPECT_EQ(data->expectedBlockIndex(), 1) << c.name;
  }
}

// Data shorter than width × height × 2 must not be read past its end.
TEST(ThermalRawData, ShortDataYieldsNoTemperaturesAndOneMessage) {
  struct Case {
    const char* name;
    bool compressed;
    size_t pixels;  // of the 32 × 24 the header announces
  };
  for (const Case c : {Case{"uncompressed", false, 100}, Case{"decompresses to fewer bytes", true, 500}}) {
    PrintCapture capture;
    std::vector<uint16_t> raw(c.pixels, sb::rawFor(25.0));
    const auto data = loaded(sb::thermalSegments(header(32, 24, c.compressed), raw)[0]);
    EXPECT_TRUE(data->getTemperatures(ZLT_Celsius).empty()) << c.name;
    EXPECT_TRUE(std::isnan(data->getTemperature(31, 23, ZLT_Celsius))) << c.name;
    EXPECT_TRUE(data->getTemperatures(ZLT_Fahrenheit).empty()) << c.name;
    EXPECT_EQ(data->data(), nullptr) << c.name;
    const auto messages = capture.messages();
    const auto shortMessages = std::count_if(messages.begin(), messages.end(), [](const std::string& m) {
      return m.find("Thermal data too short") != std::string::npos;
    });
    EXPECT_EQ(shortMessages, 1) << c.name;
  }
}

TEST(ThermalRawData, RawValuesToTemperatures) {
  struct Case {
    const char* name;
    bool gainFlag;
    uint16_t raw;
    int unit;
    double expected;
  };
  const Case cases[] = {
      {"gain 0, Celsius", true, 7315, ZLT_Celsius, 19.45},
      {"gain 0, Fahrenheit", true, 7315, ZLT_Fahrenheit, 67.01},
      {"gain 1", false, 1000, ZLT_Celsius, 126.85},
      {"high bits above 14 are ignored", true, 7315 | 0xC000, ZLT_Celsius, 19.45},
  };
  for (const auto& c : cases) {
    auto block = header(2, 1, false);
    block.gainFlag = c.gainFlag;
    const auto data = loaded(sb::thermalSegments(block, {0, c.raw})[0]);
    EXPECT_NEAR(data->getTemperature(1, 0, c.unit), c.expected, 0.005) << c.name;
    EXPECT_NEAR(data->getTemperatures(c.unit)[1], c.expected, 0.005) << c.name;
  }
}

// The whole-frame conversion is single precision; it must give exactly the float of the double
// formula of the single pixel for every raw value, both gains, planes and pairs.
TEST(ThermalRawData, EveryRawValueConvertsExactlyAsASinglePixel) {
  std::vector<uint16_t> raw(128 * 128);
  for (size_t v = 0; v < raw.size(); ++v) raw[v] = static_cast<uint16_t>(v | (v % 3 == 0 ? 0xC000 : 0));
  for (const bool gainFlag : {true, false})
    for (const bool compressed : {true, false}) {
      auto block = header(128, 128, compressed);
      block.gainFlag = gainFlag;
      const auto data = loaded(sb::thermalSegments(block, raw)[0]);
      const double step = gainFlag ? 0.04 : 0.4;
      const std::vector<float> all = data->getTemperatures(ZLT_Celsius);
      ASSERT_EQ(all.size(), raw.size());
      for (unsigned v = 0; v < raw.size(); ++v) {
        const float expected = static_cast<float>(v * step - 273.15);
        ASSERT_EQ(all[v], expected) << "raw " << v << " gain flag " << gainFlag << " compressed " << compressed;
        ASSERT_EQ(data->getTemperature(v % 128, v / 128, ZLT_Celsius), expected) << "raw " << v;
      }
    }
}

TEST(ThermalRawData, PixelsWithoutATemperature) {
  PrintCapture capture;
  auto block = header(4, 4, false);
  EXPECT_TRUE(std::isnan(
      loaded(sb::thermalSegments(block, std::vector<uint16_t>(16, 7315))[0])->getTemperature(4, 0, ZLT_Celsius)));
  EXPECT_TRUE(capture.has("Invalid pixel coordinate 4x0"));
  block.advancedRadiometry = false;
  const auto noRadiometry = loaded(sb::thermalSegments(block, std::vector<uint16_t>(16, 7315))[0]);
  EXPECT_TRUE(std::isnan(noRadiometry->getTemperature(0, 0, ZLT_Celsius)));
  EXPECT_TRUE(noRadiometry->getTemperatures(ZLT_Celsius).empty());
  EXPECT_EQ(capture.count("Conversion to absolute temperatures only supported for sensors with advanced radiometry "
                          "support"),
            2u);
}

TEST(ThermalRawData, SegmentsThatAreNotThermalBlocks) {
  Zelta_ThermalFrameCollector collector;
  const std::string good = sb::thermalSegments(header(2, 2, false), {1, 2, 3, 4})[0];
  std::string lying = good;
  lying[2] = 0;
  lying[3] = 5;  // claims fewer bytes than the header
  const std::string notThermal = sb::com(std::string("ZLF\0xxxxxxxx", 12));
  EXPECT_FALSE(collector.addSegment(bytes(good), 11));
  EXPECT_FALSE(collector.addSegment(bytes(lying), lying.size()));
  EXPECT_FALSE(collector.addSegment(bytes(notThermal), notThermal.size()));
  EXPECT_FALSE(collector.addSegment(nullptr, 0));
  EXPECT_TRUE(collector.finish().empty());
}

// One decoder, picture after picture, as the renderer uses it: the pictures and their thermal data
// take their buffers from the decoder's pool. A frame still held by its reader keeps its bytes
// while later frames are decoded (also broken and short ones, which leave stale bytes in the
// buffers they return), and every later frame reads only its own bytes.
TEST(ThermalRawData, PooledBuffersServeFrameAfterFrameWithoutMixingThem) {
  struct Frame {
    const char* name;
    double celsius;  // the scene's background
    bool compressed;
    size_t pixels;  // of the 64 × 48 the header announces
    bool corrupt;   // LZ4 data that does not decompress
    bool expectValues;
  };
  const Frame frames[] = {
      {"first", 20.0, true, 64 * 48, false, true},
      {"cut short", 31.0, true, 1000, false, false},
      {"corrupt", 32.0, true, 64 * 48, true, false},
      {"after the broken ones", -5.0, true, 64 * 48, false, true},
      {"uncompressed", 40.0, false, 64 * 48, false, true},
      {"uncompressed, short", 41.0, false, 100, false, false},
      {"compressed again", 12.5, true, 64 * 48, false, true},
  };
  PrintCapture capture;
  Zelta_Decoder decoder;
  std::vector<std::shared_ptr<ZL_ThermalRawData>> held;  // every frame's data, kept to the end
  std::vector<std::vector<float>> heldCelsius;
  for (const Frame& f : frames) {
    SCOPED_TRACE(f.name);
    const auto raw = scene(64, 48, f.celsius);
    auto segments = sb::thermalSegments(header(64, 48, f.compressed), {raw.begin(), raw.begin() + f.pixels}, 3);
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
    ASSERT_EQ(data->getTemperatures(ZLT_Celsius, celsius), f.expectValues);
    if (f.expectValues) {
      EXPECT_EQ(celsius, expectedCelsius(raw));
      EXPECT_TRUE(std::equal(raw.begin(), raw.end(), data->data()));
      held.push_back(data);
      heldCelsius.push_back(celsius);
    }
  }
  EXPECT_TRUE(capture.has("Thermal data too short, no temperatures: got 2000 bytes, expected 6144"));
  EXPECT_TRUE(capture.has("Decompression failed after reading 4 bytes"));
  EXPECT_TRUE(capture.has("Thermal data too short, no temperatures: got 200 bytes, expected 6144"));
  for (size_t i = 0; i < held.size(); ++i) {
    std::vector<float> again;
    ASSERT_TRUE(held[i]->getTemperatures(ZLT_Celsius, again));
    EXPECT_EQ(again, heldCelsius[i]) << "frame " << i << " was written while held";
  }
  held.clear();
  EXPECT_LE(decoder.buffers()->bytes.waiting(), Zelta_FrameBuffers::kKeptBytes);
  EXPECT_GT(decoder.buffers()->bytes.waiting(), 0u) << "released frames give their buffers back";
}
