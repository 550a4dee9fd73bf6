// Signed 16-bit little-endian samples.
#pragma once

#include "Zelta_AudioReader.h"

namespace Zelta {

class Zelta_AudioReaderS16LE : public Zelta_AudioReader {
 public:
  size_t bytesPerSample() const override { return 2; }
  float read(const uint8_t* sample) const override;
};

}  // namespace Zelta
