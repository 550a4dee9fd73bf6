#include "Zelta_SinkAudioWrapper.h"

#include "Zelta_Print.h"

namespace Zelta {

Zelta_SinkAudioWrapper::Zelta_SinkAudioWrapper(std::shared_ptr<Zelta_SinkAudio> sink) : m_sink(std::move(sink)) {
  ZELTA_CHECK(m_sink != nullptr);
}

int Zelta_SinkAudioWrapper::consume(const Zelta_Audio& audio) {
  if (audio.packetType() == Zelta_AudioPacket_StreamHeader) {
    if (!(audio.format() == m_sourceFormat)) m_convert.reset();
    m_sourceFormat = audio.format();
    return 0;
  }
  if (audio.packetType() != Zelta_AudioPacket_Data) return 0;
  // Built on the first data packet, after the stream header had its say.
  if (!m_convert) m_convert = std::make_unique<Zelta_AudioConvert>(&m_sourceFormat, m_sink->targetFormat());
  auto converted = m_convert->convert(audio);
  return converted ? m_sink->consume(std::move(converted)) : 0;
}

}  // namespace Zelta
