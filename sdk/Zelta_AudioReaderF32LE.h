// 32-bit float little-endian samples (clamped to [-1, 1]).
#pragma once

#include "Zelta_AudioReader.h"

namespace Zelta {

class Zelta_AudioReaderF32LE : public Zelta_AudioReader {
 public:
  size_t bytesPerSample() const override { return 4; }
  float read(const uint8_t* sample) const override;
};

}  // namespace Zelta
