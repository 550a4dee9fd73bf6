// An audio packet: format, time stamp, packet type and sample bytes. The 28-byte prefix (seven
// little-endian 32-bit words: codec, sample rate, sample format, channels, seconds,
// microseconds, packet type) carries the description in front of the samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Zelta_AudioFormat.h"

namespace Zelta {

enum Zelta_AudioPacketType : uint32_t {
  Zelta_AudioPacket_StreamHeader = 0,
  Zelta_AudioPacket_Data = 1,
  Zelta_AudioPacket_Other = 2,
  Zelta_AudioPacket_Unknown = 3
};

struct Zelta_AudioTime {
  int64_t seconds = 0;
  int64_t microseconds = 0;
  bool operator==(const Zelta_AudioTime& o) const { return seconds == o.seconds && microseconds == o.microseconds; }
};

constexpr size_t AUD_BUF_PREFIX_SIZE = 28;

class Zelta_Audio {
 public:
  virtual ~Zelta_Audio() = default;
  virtual const Zelta_AudioFormat& format() const = 0;
  virtual Zelta_AudioTime time() const = 0;
  virtual uint32_t packetType() const = 0;
  virtual const uint8_t* data() const = 0;
  virtual size_t size() const = 0;
};

class Zelta_AudioInternal : public Zelta_Audio {
 public:
  const Zelta_AudioFormat& format() const override { return m_format; }
  Zelta_AudioTime time() const override { return m_time; }
  uint32_t packetType() const override { return m_type; }

  // Writes the prefix; returns 28. Throws for a null or too small buffer.
  static size_t createPrefix(uint8_t* prefix_buffer, size_t prefixBufferSize, const Zelta_AudioFormat& format,
                             Zelta_AudioTime time, uint32_t type);
  // Reads a prefix back; returns 1. Throws for a short buffer or missing outputs.
  static int parsePrefix(const uint8_t* buffer, size_t rawAudioLength, Zelta_AudioFormat* audioFormat,
                         Zelta_AudioTime* timeStamp, uint32_t* type);

 protected:
  Zelta_AudioFormat m_format;
  Zelta_AudioTime m_time;
  uint32_t m_type = Zelta_AudioPacket_Unknown;
};

}  // namespace Zelta
