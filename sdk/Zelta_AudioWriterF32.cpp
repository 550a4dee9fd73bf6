#include "Zelta_AudioWriterF32.h"

#include <cstring>

namespace Zelta {

void Zelta_AudioWriterF32::write(float sample, uint8_t* out) const {
  const float value = clamped(sample);
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  putLE(out, bits, 4);
}

}  // namespace Zelta
