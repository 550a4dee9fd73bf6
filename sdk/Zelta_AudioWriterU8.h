// Writes unsigned 8-bit samples (128 is silence).
#pragma once

#include "Zelta_AudioWriter.h"

namespace Zelta {

class Zelta_AudioWriterU8 : public Zelta_AudioWriter {
 public:
  size_t bytesPerSample() const override { return 1; }
  void write(float sample, uint8_t* out) const override;
};

}  // namespace Zelta
