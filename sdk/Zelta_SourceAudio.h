// The audio side of a stream source: queued APP11 segments. Called on the SDK's thread.
#pragma once

#include <cstddef>
#include <memory>

namespace Zelta {

class Zelta_Buffer;

class Zelta_SourceAudio {
 public:
  virtual ~Zelta_SourceAudio() = default;
  // Same results as Zelta_SourceVideo::readVideo.
  virtual int readAudio(Zelta_Buffer* target) = 0;
  // The oldest whole audio segment (marker and length included), or null when none is queued.
  virtual std::unique_ptr<Zelta_Buffer> takeAudioSegment() = 0;
  virtual size_t queuedAudioBytes() const = 0;
};

}  // namespace Zelta
