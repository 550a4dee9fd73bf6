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
  // Sources that cut pictures themselves mark the queued piece that ends a picture. For them the
  // packetizer reads with readVideoPicture, which stops after such a piece and sets *pictureEnded.
  virtual bool marksPictureEnds() const { return false; }
  virtual int readVideoPicture(Zelta_Buffer* target, bool* pictureEnded) {
    *pictureEnded = false;
    return readVideo(target);
  }
  // False once the source is closed or failed and will deliver no more bytes.
  virtual bool deliversMore() const = 0;
  virtual size_t queuedVideoBytes() const = 0;
};

}  // namespace Zelta
