// Decodes one sample of a sample format into a float in [-1, 1]. Stateless; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Zelta_AudioFormat.h"

namespace Zelta {

class Zelta_AudioReader {
 public:
  virtual ~Zelta_AudioReader() = default;
  virtual size_t bytesPerSample() const = 0;
  virtual float read(const uint8_t* sample) const = 0;
  // The reader for a format (A-law by codec, else 16-bit or float samples by sample format);
  // null when there is none.
  static std::unique_ptr<Zelta_AudioReader> forFormat(const Zelta_AudioFormat& format);
};

}  // namespace Zelta
