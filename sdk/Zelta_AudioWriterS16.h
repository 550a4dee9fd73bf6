// Writes signed 16-bit little-endian samples.
#pragma once

#include "Zelta_AudioWriter.h"

namespace Zelta {

class Zelta_AudioWriterS16 : public Zelta_AudioWriter {
 public:
  size_t bytesPerSample() const override { return 2; }
  void write(float sample, uint8_t* out) const override;
};

}  // namespace Zelta
