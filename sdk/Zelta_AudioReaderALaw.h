// G.711 A-law samples, one byte each.
#pragma once

#include "Zelta_AudioReader.h"

namespace Zelta {

class Zelta_AudioReaderALaw : public Zelta_AudioReader {
 public:
  size_t bytesPerSample() const override { return 1; }
  float read(const uint8_t* sample) const override;
  // The 16-bit linear value of an A-law byte.
  static int16_t decode(uint8_t alaw);
};

}  // namespace Zelta
