// Receives the stream's audio packets, converted to the format the client asked for.
// Implemented by the SDK's client; called on the SDK's thread.
#pragma once

#include <memory>

#include "Zelta_AudioInternal.h"

namespace Zelta {

class Zelta_SinkAudio {
 public:
  virtual ~Zelta_SinkAudio() = default;
  // The format the client wants; null for the stream's own.
  virtual const Zelta_AudioFormat* targetFormat() const { return nullptr; }
  virtual int consume(std::shared_ptr<Zelta_Audio> audio) = 0;

  // The four queries the SDK's wrapper asks before each data packet, in this order; each answers
  // 1 (yes) or 0 (no).
  // Whether data packets are wanted at all (0: dropped before any conversion).
  virtual int acceptsAudio() const { return 1; }
  // Whether a stream header that changes the format mid-stream is followed (0: packets of any
  // format but the first are dropped).
  virtual int acceptsFormatChanges() const { return 1; }
  // Whether packets are converted to targetFormat() (0: handed on as the stream carried them).
  virtual int wantsConversion() const { return 1; }
  // Whether the conversion may change the sample rate (0: packets keep the stream's rate, in the
  // target's codec and sample format; the rate the stream claims then never sizes a resampler).
  virtual int allowsResampling() const { return 1; }
};

}  // namespace Zelta
