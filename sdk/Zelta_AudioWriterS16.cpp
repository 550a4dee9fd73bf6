#include "Zelta_AudioWriterS16.h"

#include <cmath>

#include "Zelta_LittleEndian.h"

namespace Zelta {

void Zelta_AudioWriterS16::write(float sample, uint8_t* out) const {
  writeLittleEndian(out, static_cast<uint16_t>(static_cast<int16_t>(std::lround(clamped(sample) * 32767.0f))), 2);
}

}  // namespace Zelta
