// Changes the sample rate of one packet while converting its samples: reads interleaved frames
// with a reader, writes them with a writer. Used on the SDK's thread.
#pragma once

#include <cstdint>
#include <vector>

#include "Zelta_AudioInternal.h"
#include "Zelta_AudioReader.h"
#include "Zelta_AudioWriter.h"

namespace Zelta {

class Zelta_AudioResampler {
 public:
  virtual ~Zelta_AudioResampler() = default;
  // Appends the packet's samples at the target rate to `output`; throws the precondition error
  // without a reader or writer.
  void resample(const Zelta_Audio& audio, const Zelta_AudioReader* reader, std::vector<uint8_t>& output,
                const Zelta_AudioWriter* writer);

 protected:
  // Frames of `channels` samples each, in [-1, 1]; returns the frames at the target rate.
  virtual std::vector<float> resampleFrames(const std::vector<float>& frames, size_t channels) const = 0;
};

}  // namespace Zelta
