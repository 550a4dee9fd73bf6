#include "Zelta_AudioWriterF32.h"

#include "Zelta_LittleEndian.h"

#include <cstring>

namespace Zelta {

void Zelta_AudioWriterF32::write(float sample, uint8_t* out) const {
  const float value = clamped(sample);
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  writeLittleEndian(out, bits, 4);
}

}  // namespace Zelta
