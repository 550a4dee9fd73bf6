// Whole frames of raw thermal values to Celsius, raw × step − 273.15 in single precision and
// exactly the float of that formula in double precision for every 14-bit raw value: written as
// (raw − 273.15 / step) / (1 / step), where for both gains the offset (6828.75, 682.875) and
// the raw value are exact floats, so one correctly rounded division gives that float. Values
// are read masked to their low 14 bits; each loop also returns the bits above the 14 of all
// values together (0: every value is a raw value). Stateless functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Zelta {

struct Zelta_CelsiusScale {
  float offset;   // 273.15 / step
  float divisor;  // 1 / step
};

// Gain 0: 0.04 K per raw step; any other gain: 0.4 K.
Zelta_CelsiusScale celsiusScale(int gain);

// One implementation of the loops: out[i] for n pixels.
struct Zelta_CelsiusKernels {
  const char* name;
  // The camera's planes: pixel i is low[i] + 256 × high[i].
  uint16_t (*fromPlanes)(const uint8_t* low, const uint8_t* high, float* out, size_t n, Zelta_CelsiusScale scale);
  // Little-endian byte pairs.
  uint16_t (*fromPairs)(const uint8_t* pairs, float* out, size_t n, Zelta_CelsiusScale scale);
  // 16-bit values.
  uint16_t (*fromValues)(const uint16_t* raw, float* out, size_t n, Zelta_CelsiusScale scale);
};

// The implementations this processor runs, the one to use first (the others are there so that
// tests can check every one).
const std::vector<Zelta_CelsiusKernels>& celsiusKernels();
inline const Zelta_CelsiusKernels& celsiusKernel() { return celsiusKernels().front(); }

}  // namespace Zelta
