#include "Zelta_AudioReaderS16LE.h"

namespace Zelta {

float Zelta_AudioReaderS16LE::read(const uint8_t* sample) const {
  return static_cast<int16_t>(sample[0] | sample[1] << 8) / 32768.0f;
}

}  // namespace Zelta
