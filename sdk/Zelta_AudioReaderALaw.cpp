#include "Zelta_AudioReaderALaw.h"

namespace Zelta {

int16_t Zelta_AudioReaderALaw::decode(uint8_t alaw) {
  alaw ^= 0x55;
  const int exponent = (alaw >> 4) & 7;
  int magnitude = (alaw & 15) << 4;
  magnitude += exponent == 0 ? 8 : 0x108;
  if (exponent > 1) magnitude <<= exponent - 1;
  return static_cast<int16_t>(alaw & 0x80 ? magnitude : -magnitude);
}

float Zelta_AudioReaderALaw::read(const uint8_t* sample) const { return decode(*sample) / 32768.0f; }

}  // namespace Zelta
