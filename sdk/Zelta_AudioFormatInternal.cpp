#include "Zelta_AudioFormatInternal.h"

#include <cstring>

#include "Zelta_Print.h"

namespace Zelta {

Zelta_AudioFormatInternal::Zelta_AudioFormatInternal(const uint8_t* format, size_t length) {
  ZELTA_CHECK(format != nullptr);
  ZELTA_CHECK(length >= kStreamHeaderSize);
  m_sampleRate = format[0] | format[1] << 8 | format[2] << 16 | static_cast<uint32_t>(format[3]) << 24;
  if (std::memcmp(format + 4, " P16", 4) == 0) {
    m_codec = Zelta_Codec_PCM16;
  } else if (std::memcmp(format + 4, "alaw", 4) == 0) {
    m_codec = Zelta_Codec_ALaw;
  } else {
    const uint32_t tag = format[4] | format[5] << 8 | format[6] << 16 | static_cast<uint32_t>(format[7]) << 24;
    Zelta_Print::message(concat("unsupported codec: ", tag));
    m_codec = Zelta_Codec_Unsupported;
  }
  if (format[8] == 0) {
    m_sampleFormat = 0;
  } else if (format[8] == 1) {
    m_sampleFormat = Zelta_SampleFormat_S16;
  } else {
    Zelta_Print::message(concat("stream header indicates unknown sample format ", static_cast<char>(format[8])));
    m_sampleFormat = Zelta_SampleFormat_Unknown;
  }
  m_channels = format[9];
}

}  // namespace Zelta
