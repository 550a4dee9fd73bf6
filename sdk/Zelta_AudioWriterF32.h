// Writes 32-bit float little-endian samples.
#pragma once

#include "Zelta_AudioWriter.h"

namespace Zelta {

class Zelta_AudioWriterF32 : public Zelta_AudioWriter {
 public:
  size_t bytesPerSample() const override { return 4; }
  void write(float sample, uint8_t* out) const override;
};

}  // namespace Zelta
