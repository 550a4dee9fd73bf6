// Encodes a float sample in [-1, 1] in a target sample format. Stateless; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Zelta_AudioFormat.h"

namespace Zelta {

class Zelta_AudioWriter {
 public:
  virtual ~Zelta_AudioWriter() = default;
  virtual size_t bytesPerSample() const = 0;
  // Writes bytesPerSample() bytes at `out`.
  virtual void write(float sample, uint8_t* out) const = 0;
  // The writer for a format's sample format (0-1 unsigned 8-bit, 2-3 signed 16-bit, 4 signed
  // 32-bit, 5 float); null when there is none or the codec is not PCM.
  static std::unique_ptr<Zelta_AudioWriter> forFormat(const Zelta_AudioFormat& format);

 protected:
  static float clamped(float sample) { return sample < -1.0f ? -1.0f : sample > 1.0f ? 1.0f : sample; }
};

}  // namespace Zelta
