// Reassembles whole frames from a source's video side. The frame handed out points into the
// packetizer's own buffer and stays valid until the next nextFrame call.
// Single-threaded: called on the SDK's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Zelta_Buffer.h"
#include "Zelta_SourceVideo.h"
#include "Zelta_StreamInfo.h"

namespace Zelta {

struct Zelta_Frame {
  const uint8_t* data = nullptr;
  size_t length = 0;
};

class Zelta_Packetizer {
 public:
  enum FillState : int { kDataAvailable = 1, kMustGrow = 2, kSourceExhausted = 3 };
  static constexpr size_t kInitialBufferSize = 1u << 20;

  Zelta_Packetizer(std::shared_ptr<Zelta_SourceVideo> source, std::shared_ptr<Zelta_StreamInfo> streamInfo);
  virtual ~Zelta_Packetizer();
  Zelta_Packetizer(const Zelta_Packetizer&) = delete;
  Zelta_Packetizer& operator=(const Zelta_Packetizer&) = delete;

  // 0 with the next frame (length 0 when none is complete yet), 2 when buffered data was
  // dropped, 5 without an out-parameter.
  virtual int nextFrame(Zelta_Frame* frame) = 0;
  int fillState() const { return m_fillState; }

 protected:
  // Reads more bytes from the source: true when some arrived. With `pictureEnded`, reads up to
  // the end of a picture of a source that marks them, and reports it there.
  bool fill(bool* pictureEnded = nullptr);

  std::shared_ptr<Zelta_SourceVideo> m_source;
  std::shared_ptr<Zelta_StreamInfo> m_streamInfo;
  Zelta_Buffer m_buffer;
  int m_fillState = kDataAvailable;
};

}  // namespace Zelta
