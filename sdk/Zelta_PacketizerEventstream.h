// Cuts whole JPEG pictures (start-of-image to end-of-image) out of a video queue that holds
// pictures in the pieces they were received in. A source that marks the piece ending a picture
// (the event-stream source, which has scanned the markers already) is read picture by picture;
// from any other source the packetizer scans the markers itself, keeping its scan position between
// calls so that every byte is scanned once. Bounded: more than 8 MiB without a whole picture drops
// the buffer; while the video queue holds more than 16 MiB, pictures are skipped.
#pragma once

#include "Zelta_Packetizer.h"

namespace Zelta {

class Zelta_PacketizerEventstream : public Zelta_Packetizer {
 public:
  static constexpr size_t kMaxQueuedVideoBytes = 16u << 20;
  static constexpr size_t kMaxBufferedBytes = 8388607;

  using Zelta_Packetizer::Zelta_Packetizer;
  int nextFrame(Zelta_Frame* frame) override;

 private:
  // Scans the unread bytes from the scan position on; true with a whole picture in `frame`.
  bool findFrame(Zelta_Frame& frame);
  // The same for a source that marks picture ends: the buffered bytes from the start-of-image.
  bool takeMarkedFrame(Zelta_Frame& frame);
  void resetScan();

  // Offsets from the buffer's read offset; -1 when not seen yet.
  long m_soi = -1;
  long m_sos = -1;
  size_t m_scanPos = 0;
  bool m_pictureEnded = false;
};

}  // namespace Zelta
