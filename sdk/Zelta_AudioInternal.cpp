#include "Zelta_AudioInternal.h"

#include "Zelta_LittleEndian.h"
#include "Zelta_Print.h"

namespace Zelta {

size_t Zelta_AudioInternal::createPrefix(uint8_t* prefix_buffer, size_t prefixBufferSize,
                                         const Zelta_AudioFormat& format, Zelta_AudioTime time, uint32_t type) {
  ZELTA_CHECK(prefix_buffer != nullptr);
  ZELTA_CHECK(prefixBufferSize >= AUD_BUF_PREFIX_SIZE);
  const uint32_t words[7] = {format.codec(),
                             format.sampleRate(),
                             format.sampleFormat(),
                             format.channels(),
                             static_cast<uint32_t>(time.seconds),
                             static_cast<uint32_t>(time.microseconds),
                             type};
  for (int i = 0; i < 7; ++i) writeLittleEndian(prefix_buffer + 4 * i, words[i], 4);
  return AUD_BUF_PREFIX_SIZE;
}

int Zelta_AudioInternal::parsePrefix(const uint8_t* buffer, size_t rawAudioLength, Zelta_AudioFormat* audioFormat,
                                     Zelta_AudioTime* timeStamp, uint32_t* type) {
  ZELTA_CHECK(rawAudioLength >= AUD_BUF_PREFIX_SIZE);
  ZELTA_CHECK(timeStamp != nullptr);
  ZELTA_CHECK(audioFormat != nullptr);
  ZELTA_CHECK(buffer != nullptr);
  *audioFormat = Zelta_AudioFormat(
      static_cast<uint32_t>(readLittleEndian(buffer, 4)), static_cast<uint32_t>(readLittleEndian(buffer + 4, 4)),
      static_cast<uint32_t>(readLittleEndian(buffer + 8, 4)), static_cast<uint32_t>(readLittleEndian(buffer + 12, 4)));
  timeStamp->seconds = static_cast<uint32_t>(readLittleEndian(buffer + 16, 4));
  timeStamp->microseconds = static_cast<uint32_t>(readLittleEndian(buffer + 20, 4));
  if (type) *type = static_cast<uint32_t>(readLittleEndian(buffer + 24, 4));
  return 1;
}

}  // namespace Zelta
