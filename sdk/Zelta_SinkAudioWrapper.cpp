#include "Zelta_SinkAudioWrapper.h"

#include "Zelta_AudioVector.h"
#include "Zelta_Print.h"

namespace Zelta {

Zelta_SinkAudioWrapper::Zelta_SinkAudioWrapper(std::shared_ptr<Zelta_SinkAudio> sink) : m_sink(std::move(sink)) {
  ZELTA_CHECK(m_sink != nullptr);
}

int Zelta_SinkAudioWrapper::consume(const Zelta_Audio& audio) {
  if (audio.packetType() == Zelta_AudioPacket_StreamHeader) {
    const bool changed = !(audio.format() == m_sourceFormat);
    m_foreignFormat = changed && m_formatSeen && !m_sink->acceptsFormatChanges();
    if (m_foreignFormat) return 0;
    if (changed) m_convert.reset();
    m_sourceFormat = audio.format();
    m_formatSeen = true;
    return 0;
  }
  if (audio.packetType() != Zelta_AudioPacket_Data || m_foreignFormat || !m_sink->acceptsAudio()) return 0;
  if (!m_sink->wantsConversion()) {
    if (audio.size() == 0) return 0;
    const Zelta_AudioFormat& format = m_formatSeen ? m_sourceFormat : audio.format();
    return m_sink->consume(Zelta_AudioVector::make(format, audio.time(), audio.packetType(), audio.data(), audio.size()));
  }
  auto converted = converter().convert(audio);
  return converted ? m_sink->consume(std::move(converted)) : 0;
}

// Built on the first data packet, after the stream header had its say.
Zelta_AudioConvert& Zelta_SinkAudioWrapper::converter() {
  if (m_convert) return *m_convert;
  const Zelta_AudioFormat* target = m_sink->targetFormat();
  if (target && !m_sink->allowsResampling()) {
    m_target = Zelta_AudioFormat(target->codec(), m_sourceFormat.sampleRate(), target->sampleFormat(),
                                 target->channels());
    target = &m_target;
  }
  m_convert = std::make_unique<Zelta_AudioConvert>(&m_sourceFormat, target);
  return *m_convert;
}

}  // namespace Zelta
