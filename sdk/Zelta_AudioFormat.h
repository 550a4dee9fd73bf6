// An audio format: codec, sample rate, sample format and channels. The default is PCM16,
// 16 000 Hz, mono.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zelta {

enum Zelta_AudioCodec : uint32_t { Zelta_Codec_PCM16 = 0, Zelta_Codec_ALaw = 1, Zelta_Codec_Unsupported = 2 };
// Sample formats 0-5 by size (0, 1: one byte; 2, 3: two; 4, 5: four); 6 unknown.
enum : uint32_t { Zelta_SampleFormat_S16 = 2, Zelta_SampleFormat_Unknown = 6 };

class Zelta_AudioFormat {
 public:
  Zelta_AudioFormat(uint32_t codec = Zelta_Codec_PCM16, uint32_t sampleRate = 16000,
                    uint32_t sampleFormat = Zelta_SampleFormat_S16, uint32_t channels = 1)
      : m_codec(codec), m_sampleRate(sampleRate), m_sampleFormat(sampleFormat), m_channels(channels) {}
  virtual ~Zelta_AudioFormat() = default;

  virtual uint32_t codec() const { return m_codec; }
  virtual uint32_t sampleRate() const { return m_sampleRate; }
  virtual uint32_t sampleFormat() const { return m_sampleFormat; }
  // Microseconds per sample; 0 without a rate.
  virtual uint32_t sampleDurationUs() const { return m_sampleRate ? 1000000 / m_sampleRate : 0; }
  virtual uint32_t channels() const { return m_channels; }
  // Bytes per sample; 0 (and a message) for a format without a size.
  virtual size_t sampleSize() const;

  bool operator==(const Zelta_AudioFormat& o) const {
    return m_codec == o.m_codec && m_sampleRate == o.m_sampleRate && m_sampleFormat == o.m_sampleFormat &&
           m_channels == o.m_channels;
  }

 protected:
  uint32_t m_codec;
  uint32_t m_sampleRate;
  uint32_t m_sampleFormat;
  uint32_t m_channels;
};

}  // namespace Zelta
