#include "Zelta_AudioReaderF32LE.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Zelta_LittleEndian.h"

namespace Zelta {

float Zelta_AudioReaderF32LE::read(const uint8_t* sample) const {
  const auto bits = static_cast<uint32_t>(readLittleEndian(sample, 4));
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return std::isnan(value) ? 0.0f : std::clamp(value, -1.0f, 1.0f);
}

}  // namespace Zelta
