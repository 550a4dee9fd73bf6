#include "Zelta_AudioWriterS32.h"

#include <cmath>

#include "Zelta_LittleEndian.h"

namespace Zelta {

void Zelta_AudioWriterS32::write(float sample, uint8_t* out) const {
  writeLittleEndian(
      out,
      static_cast<uint32_t>(static_cast<int32_t>(std::lround(static_cast<double>(clamped(sample)) * 2147483647.0))), 4);
}

}  // namespace Zelta
