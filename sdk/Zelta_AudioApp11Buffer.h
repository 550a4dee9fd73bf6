// An APP11 audio segment taken from the event stream's audio queue: "ZLS" stream header (its
// format replaces the current one), "ZLA" audio data (time stamp, samples from byte 24 up to the
// extension area or the segment end), "ZLO" (no samples). Every offset is checked against the
// segment's bytes.
#pragma once

#include <memory>

#include "Zelta_AudioInternal.h"
#include "Zelta_Buffer.h"

namespace Zelta {

class Zelta_AudioApp11Buffer : public Zelta_AudioInternal {
 public:
  // `currentFormat` is the format the stream had so far; a stream header replaces it. Throws the
  // precondition error without a buffer.
  Zelta_AudioApp11Buffer(std::unique_ptr<Zelta_Buffer> buffer, const Zelta_AudioFormat& currentFormat = {});

  const uint8_t* data() const override { return m_samples; }
  size_t size() const override { return m_sampleBytes; }

 private:
  std::unique_ptr<Zelta_Buffer> m_buffer;
  const uint8_t* m_samples = nullptr;
  size_t m_sampleBytes = 0;
};

}  // namespace Zelta
