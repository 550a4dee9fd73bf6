// Sits between the stream's audio packets and the client's sink: follows the stream header's
// format, converts data packets to the client's format and hands them on, as the sink's four
// queries ask (Zelta_SinkAudio). Single-threaded.
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
  // The converter for the current source format, as the sink's queries want it.
  Zelta_AudioConvert& converter();

  std::shared_ptr<Zelta_SinkAudio> m_sink;
  Zelta_AudioFormat m_sourceFormat;
  bool m_formatSeen = false;      // a stream header set m_sourceFormat
  bool m_foreignFormat = false;   // the stream changed to a format the sink does not follow
  Zelta_AudioFormat m_target;     // the sink's target at the stream's rate (no resampling)
  std::unique_ptr<Zelta_AudioConvert> m_convert;
};

}  // namespace Zelta
