#include "Zelta_AudioConvert.h"

#include "Zelta_Print.h"
#include "Zelta_ResampleFix.h"
#include "Zelta_ResampleFree.h"

namespace Zelta {

Zelta_AudioConvert::Zelta_AudioConvert(const Zelta_AudioFormat* source, const Zelta_AudioFormat* target) {
  if (!source) {
    Zelta_Print::message("audio source did not provide data format");
    m_passthrough = true;
    return;
  }
  if (!target) {
    Zelta_Print::message("No target format specified, using passthrough mode");
    m_passthrough = true;
    return;
  }
  if (*source == *target) {
    Zelta_Print::message("Audio conversion not available/needed, activating audio passthrough mode");
    m_passthrough = true;
    return;
  }
  m_target = Zelta_AudioFormat(target->codec(), target->sampleRate(), target->sampleFormat(), source->channels());
  m_reader = Zelta_AudioReader::forFormat(*source);
  m_writer = Zelta_AudioWriter::forFormat(*target);
  const uint32_t from = source->sampleRate(), to = target->sampleRate();
  if (!m_reader || !m_writer || from == 0 || to == 0) {
    Zelta_Print::message(
        concat("unsupported sample format conversion from ", source->sampleFormat(), " to ", target->sampleFormat()));
    return;
  }
  if (static_cast<uint64_t>(from) * kMaxRateRatio < to || static_cast<uint64_t>(to) * kMaxRateRatio < from) {
    Zelta_Print::message(concat("unsupported sample rate conversion from ", from, " Hz to ", to, " Hz"));
    return;
  }
  m_sourceRate = from;
  if ((to >= from && to % from == 0) || (from > to && from % to == 0))
    m_resampler = std::make_unique<Zelta_ResampleFix>(from, to);
  else
    m_resampler = std::make_unique<Zelta_ResampleFree>(from, to);
}

std::shared_ptr<Zelta_AudioVector> Zelta_AudioConvert::convert(const Zelta_Audio& audio) {
  if (audio.size() == 0) return nullptr;  // stream headers and other packets carry no samples
  if (m_passthrough) {
    ZELTA_TRACE(kTraceSetup, "passthrough");
    return Zelta_AudioVector::make(audio.format(), audio.time(), audio.packetType(), audio.data(), audio.size());
  }
  if (!supported()) return nullptr;
  const uint64_t channels = audio.format().channels() ? audio.format().channels() : 1;
  const uint64_t frames = audio.size() / m_reader->bytesPerSample() / channels;
  const uint64_t outBytes =
      (frames * m_target.sampleRate() / m_sourceRate + 1) * channels * m_writer->bytesPerSample();
  if (outBytes > kMaxConvertedBytes) {
    Zelta_Print::message(concat("audio packet of ", audio.size(), " bytes would convert into ", outBytes,
                                " bytes, dropped"));
    return nullptr;
  }
  auto bytes = std::make_shared<std::vector<uint8_t>>(AUD_BUF_PREFIX_SIZE);
  Zelta_AudioInternal::createPrefix(bytes->data(), bytes->size(), m_target, audio.time(), audio.packetType());
  m_resampler->resample(audio, m_reader.get(), *bytes, m_writer.get());
  if (bytes->size() == AUD_BUF_PREFIX_SIZE) return nullptr;  // no whole frame in the packet
  return std::make_shared<Zelta_AudioVector>(std::move(bytes));
}

}  // namespace Zelta
