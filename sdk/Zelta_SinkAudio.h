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
};

}  // namespace Zelta
