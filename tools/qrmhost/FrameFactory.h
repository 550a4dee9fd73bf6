// The frame factory qrmhost hands to the module, and its heap buffers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "host/MFF.h"

namespace qrmhost {

// Larger requests get null: no picture or audio block comes near it, a bad size would.
constexpr size_t kMaxBufferSize = 64u * 1024u * 1024u;

// Any module thread may allocate. A buffer belongs to whoever holds it: the module until it hands
// it over with MultimediaFrame (or ends it with Destroy), then qrmhost; a buffer qrmhost hands to
// the loudspeaker with SendAudio belongs to the module from then on. Destroy() deletes it.
// The factory outlives the module, so a buffer may be destroyed at any time before that.
class FrameFactory : public Talvo::MFF::IMultimediaFrameFactory {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;

  Talvo::MFF::ICompressedBuffer* AllocateCompressedBuffer(const char* codecName, size_t size, int reserved,
                                                          bool keyFrame) override;
  Talvo::MFF::IAudioBuffer* AllocateAudioBuffer(const char* format, size_t size, uint64_t timeStamp, int32_t bitRate,
                                                int32_t encoding) override;

  // Buffers given out and not yet destroyed: non-zero after finiModule means a leak.
  long liveBuffers() const { return liveBuffers_.load(); }

 private:
  std::atomic<long> liveBuffers_{0};
};

// Owns a buffer handed over by the module; ends it with Destroy().
struct BufferDestroyer {
  void operator()(Talvo::MFF::IMultimediaBuffer* buffer) const {
    if (buffer) buffer->Destroy();
  }
};
template <class Buffer>
using OwnedBuffer = std::unique_ptr<Buffer, BufferDestroyer>;

}  // namespace qrmhost
