#include "Zelta_AudioFormatInternal.h"

#include <cstring>

#include "Zelta_LittleEndian.h"
#include "Zelta_Print.h"

namespace Zelta {

Zelta_AudioFormatInternal::Zelta_AudioFormatInternal(const uint8_t* format, size_t length) {
  ZELTA_CHECK(format != nullptr);
  ZELTA_CHECK(length >= kStreamHeaderSize);
  m_sampleRate = static_cast<uint32_t>(readLittleEndian(format, 4));
  if (std::memcmp(format + 4, " P16", 4) == 0) {
    m_codec = Zelta_Codec_PCM16;
  } else if (std::memcmp(format + 4, "alaw", 4) == 0) {
    m_codec = Zelta_Codec_ALaw;
  } else {
    const uint64_t tag = readLittleEndian(format + 4, 4);
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
