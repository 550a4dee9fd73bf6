// The video side of a stream source: queued picture bytes (whole images or pieces of them) read
// by the packetizer. Called on the SDK's thread.
#pragma once

#include <cstddef>

namespace Zelta {

class Zelta_Buffer;

class Zelta_SourceVideo {
 public:
  virtual ~Zelta_SourceVideo() = default;
  // Copies queued bytes into target's free space: 0 copied, 1 nothing queued, 2 target full,
  // -1 no target.
  virtual int readVideo(Zelta_Buffer* target) = 0;
  // False once the source is closed or failed and will deliver no more bytes.
  virtual bool deliversMore() const = 0;
  virtual size_t queuedVideoBytes() const = 0;
};

}  // namespace Zelta
