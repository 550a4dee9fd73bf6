#include "Zelta_SendAudio.h"

#include <cstdlib>

#include "Zelta_LittleEndian.h"
#include "Zelta_Print.h"

namespace Zelta {
namespace {

constexpr size_t kSamplesOffset = 24;

// G.711 A-law of a 16-bit linear sample.
uint8_t linearToALaw(int16_t sample) {
  int value = sample >> 3;  // 13-bit magnitude
  uint8_t sign = 0x80;
  if (value < 0) {
    sign = 0;
    value = -value - 1;
  }
  // Segment s holds the magnitudes up to (0x20 << s) - 1: 31, 63, 127, ..., 4095.
  int segment = 0;
  while (segment < 8 && value > (0x20 << segment) - 1) ++segment;
  const uint8_t code =
      segment >= 8 ? 0x7F : static_cast<uint8_t>((segment << 4) | ((segment ? value >> segment : value >> 1) & 0x0F));
  return static_cast<uint8_t>((code | sign) ^ 0x55);
}

std::string app11(const std::string& payload) {
  const size_t length = payload.size() + 2;
  return std::string{'\xFF', '\xEB', static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} + payload;
}

}  // namespace

Zelta_SendAudio::Zelta_SendAudio(std::shared_ptr<Zelta_EventSource> target) : m_target(std::move(target)) {
  ZELTA_CHECK(m_target != nullptr);
}

void Zelta_SendAudio::updateConverter(uint32_t codec) {
  if (codec == m_codec) return;
  m_codec = codec;
  if (codec == Zelta_Codec_ALaw) {
    ZELTA_TRACE(8, "audio output format is aLaw, 8kHz");
    m_output = Zelta_AudioFormat(Zelta_Codec_ALaw, 8000, 0, 1);
  } else {
    ZELTA_TRACE(8, "audio output format is PCM16, 16kHz");
    m_output = Zelta_AudioFormat(Zelta_Codec_PCM16, 16000, Zelta_SampleFormat_S16, 1);
  }
  m_converted = Zelta_AudioFormat(Zelta_Codec_PCM16, m_output.sampleRate(), Zelta_SampleFormat_S16, 1);
  m_convert.reset();
  m_headerSent = false;
}

size_t Zelta_SendAudio::send(const Zelta_Audio* audio) {
  if (!audio) {
    Zelta_Print::message("no data passed to audio sender");
    return 0;
  }
  if (audio->size() == 0) {
    Zelta_Print::message("empty buffer passed to audio sender");
    return 0;
  }
  if (m_codec == Zelta_Codec_Unsupported) updateConverter(Zelta_Codec_PCM16);
  if (m_codec > Zelta_Codec_ALaw) {
    Zelta_Print::message(concat("unsupported audio code send operation ", m_codec));
    return 0;
  }
  if (!m_convert || !(audio->format() == m_convertFrom)) {
    m_convertFrom = audio->format();
    m_convert = std::make_unique<Zelta_AudioConvert>(&m_convertFrom, &m_converted);
  }
  const auto converted = m_convert->convert(*audio);
  if (!converted || converted->size() == 0) {
    Zelta_Print::message("Audio conversion failed, no data was sent");
    return 0;
  }
  std::string samples(reinterpret_cast<const char*>(converted->data()), converted->size());
  if (m_codec == Zelta_Codec_ALaw) {
    std::string encoded(samples.size() / 2, '\0');
    for (size_t i = 0; i < encoded.size(); ++i)
      encoded[i] = static_cast<char>(linearToALaw(
          static_cast<int16_t>(readLittleEndian(reinterpret_cast<const uint8_t*>(samples.data()) + 2 * i, 2))));
    samples = std::move(encoded);
  }
  if (!m_headerSent && !(m_headerSent = sendBytes(streamHeaderSegment(m_output)))) return 0;
  const uint64_t timeUs = audio->time().seconds * 1000000ull + audio->time().microseconds;
  size_t sent = 0;
  for (size_t from = 0; from < samples.size(); from += kMaxSamplesPerSegment) {
    const size_t count = std::min(kMaxSamplesPerSegment, samples.size() - from);
    if (!sendBytes(dataSegment(reinterpret_cast<const uint8_t*>(samples.data()) + from, count, timeUs))) break;
    sent += count;
  }
  return sent;
}

bool Zelta_SendAudio::sendBytes(const std::string& bytes) {
  return m_target->sendCommand(bytes.data(), bytes.size()) == eSend_Ok;
}

std::string Zelta_SendAudio::streamHeaderSegment(const Zelta_AudioFormat& format) {
  std::string payload("ZLS\0", 4);
  payload.resize(18, '\0');
  writeLittleEndian(reinterpret_cast<uint8_t*>(&payload[8]), format.sampleRate(), 4);
  payload.replace(12, 4, format.codec() == Zelta_Codec_ALaw ? "alaw" : " P16");
  payload[16] = format.sampleSize() == 2 ? 1 : 0;
  payload[17] = static_cast<char>(format.channels());
  return app11(payload);
}

std::string Zelta_SendAudio::dataSegment(const uint8_t* samples, size_t count, uint64_t timeUs) {
  std::string payload("ZLA\0", 4);
  payload.resize(kSamplesOffset - 4, '\0');
  writeLittleEndian(reinterpret_cast<uint8_t*>(&payload[8]), timeUs, 8);
  payload.append(reinterpret_cast<const char*>(samples), count);
  return app11(payload);
}

}  // namespace Zelta
