#include "Zelta_AudioReaderF32LE.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Zelta {

float Zelta_AudioReaderF32LE::read(const uint8_t* sample) const {
  const uint32_t bits = sample[0] | sample[1] << 8 | sample[2] << 16 | static_cast<uint32_t>(sample[3]) << 24;
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return std::isnan(value) ? 0.0f : std::clamp(value, -1.0f, 1.0f);
}

}  // namespace Zelta
