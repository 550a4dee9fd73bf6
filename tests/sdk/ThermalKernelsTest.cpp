// Every implementation of the whole-frame conversion this processor runs (not only the one in
// use, also the baseline x86-64 loops) gives exactly the float of the double formula for every
// 14-bit raw value, both gains, from planes, byte pairs and 16-bit values, and reports the bits
// above the 14 wherever they are.
#include "Zelta_ThermalKernels.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Zelta;

TEST(ThermalKernels, EveryImplementationConvertsEveryRawValueExactly) {
  constexpr size_t kValues = 16384;
  std::vector<uint16_t> raw(kValues);
  std::vector<uint8_t> low(kValues), high(kValues), pairs(2 * kValues);
  for (size_t v = 0; v < kValues; ++v) {
    raw[v] = static_cast<uint16_t>(v | (v % 3 == 0 ? 0xC000 : 0));  // high bits that must be ignored
    low[v] = pairs[2 * v] = static_cast<uint8_t>(raw[v]);
    high[v] = pairs[2 * v + 1] = static_cast<uint8_t>(raw[v] >> 8);
  }
  EXPECT_STREQ(celsiusKernels().back().name, "baseline") << "the baseline is always there";
  for (const Zelta_CelsiusKernels& kernels : celsiusKernels()) {
    for (const int gain : {0, 1}) {
      const double step = gain == 0 ? 0.04 : 0.4;
      std::vector<float> fromPlanes(kValues), fromPairs(kValues), fromValues(kValues);
      EXPECT_EQ(kernels.fromPlanes(low.data(), high.data(), fromPlanes.data(), kValues, celsiusScale(gain)), 0xC000);
      EXPECT_EQ(kernels.fromPairs(pairs.data(), fromPairs.data(), kValues, celsiusScale(gain)), 0xC000);
      EXPECT_EQ(kernels.fromValues(raw.data(), fromValues.data(), kValues, celsiusScale(gain)), 0xC000);
      for (size_t v = 0; v < kValues; ++v) {
        const float expected = static_cast<float>(v * step - 273.15);
        const std::string where =
            std::string(kernels.name) + ", gain " + std::to_string(gain) + ", raw " + std::to_string(v);
        ASSERT_EQ(fromPlanes[v], expected) << where;
        ASSERT_EQ(fromPairs[v], expected) << where;
        ASSERT_EQ(fromValues[v], expected) << where;
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
}
