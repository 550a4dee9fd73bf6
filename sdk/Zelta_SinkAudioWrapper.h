// Sits between the stream's audio packets and the client's sink: follows the stream header's
// format, converts data packets to the client's format and hands them on. Single-threaded.
#pragma once

#include <memory>

#include "Zelta_AudioConvert.h"
#include "Zelta_SinkAudio.h"

namespace Zelta {

class Zelta_SinkAudioWrapper {
 public:
  // Throws the precondition error without a client sink.
  explicit Zelta_SinkAudioWrapper(std::shared_ptr<Zelta_SinkAudio> sink);

  // A stream header changes the source format; data packets are converted and handed on. Returns
  // the client's result, 0 for packets that are not handed on.
  int consume(const Zelta_Audio& audio);
  const Zelta_AudioFormat& sourceFormat() const { return m_sourceFormat; }

 private:
  std::shared_ptr<Zelta_SinkAudio> m_sink;
  Zelta_AudioFormat m_sourceFormat;
  std::unique_ptr<Zelta_AudioConvert> m_convert;
};

}  // namespace Zelta
