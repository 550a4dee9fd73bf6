#include "Zelta_AudioInternal.h"

#include "Zelta_Print.h"

namespace Zelta {
namespace {

void putWord(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t getWord(const uint8_t* in) { return in[0] | in[1] << 8 | in[2] << 16 | static_cast<uint32_t>(in[3]) << 24; }

}  // namespace

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
  for (int i = 0; i < 7; ++i) putWord(prefix_buffer + 4 * i, words[i]);
  return AUD_BUF_PREFIX_SIZE;
}

int Zelta_AudioInternal::parsePrefix(const uint8_t* buffer, size_t rawAudioLength, Zelta_AudioFormat* audioFormat,
                                     Zelta_AudioTime* timeStamp, uint32_t* type) {
  ZELTA_CHECK(rawAudioLength >= AUD_BUF_PREFIX_SIZE);
  ZELTA_CHECK(timeStamp != nullptr);
  ZELTA_CHECK(audioFormat != nullptr);
  ZELTA_CHECK(buffer != nullptr);
  *audioFormat = Zelta_AudioFormat(getWord(buffer), getWord(buffer + 4), getWord(buffer + 8), getWord(buffer + 12));
  timeStamp->seconds = getWord(buffer + 16);
  timeStamp->microseconds = getWord(buffer + 20);
  if (type) *type = getWord(buffer + 24);
  return 1;
}

}  // namespace Zelta
