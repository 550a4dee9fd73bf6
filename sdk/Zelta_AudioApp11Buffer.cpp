#include "Zelta_AudioApp11Buffer.h"

#include <algorithm>
#include <cstring>

#include "Zelta_AudioFormatInternal.h"
#include "Zelta_LittleEndian.h"
#include "Zelta_Print.h"

namespace Zelta {
namespace {

constexpr size_t kTagOffset = 4;
constexpr size_t kHeaderOffset = 12;
constexpr size_t kSampleOffset = 24;

}  // namespace

Zelta_AudioApp11Buffer::Zelta_AudioApp11Buffer(std::unique_ptr<Zelta_Buffer> buffer,
                                               const Zelta_AudioFormat& currentFormat)
    : m_buffer(std::move(buffer)) {
  ZELTA_CHECK(m_buffer != nullptr);
  m_format = currentFormat;
  const uint8_t* segment = m_buffer->readPointer();
  size_t length = m_buffer->unread();
  if (length >= 4) length = std::min<size_t>(length, 256u * segment[2] + segment[3] + 2);  // the segment's own length
  if (length < kHeaderOffset) {
    m_type = Zelta_AudioPacket_Unknown;
    return;
  }
  const uint8_t* tag = segment + kTagOffset;
  if (std::memcmp(tag, "ZLS\0", 4) == 0) {
    m_type = Zelta_AudioPacket_StreamHeader;
    if (length >= kHeaderOffset + Zelta_AudioFormatInternal::kStreamHeaderSize)
      m_format = Zelta_AudioFormatInternal(segment + kHeaderOffset, length - kHeaderOffset);
  } else if (std::memcmp(tag, "ZLA\0", 4) == 0) {
    m_type = Zelta_AudioPacket_Data;
    if (length < kSampleOffset) return;
    const uint64_t us = readLittleEndian(segment + kHeaderOffset, 8);
    m_time = {static_cast<int64_t>(us / 1000000), static_cast<int64_t>(us % 1000000)};
    size_t end = length;
    if (segment[9] & 0x80) {  // an extension area ends the samples
      const size_t extension = kHeaderOffset + readLittleEndian(segment + 10, 2);
      end = std::max(kSampleOffset, std::min(end, extension));
    }
    m_samples = segment + kSampleOffset;
    m_sampleBytes = end - kSampleOffset;
  } else if (std::memcmp(tag, "ZLO\0", 4) == 0) {
    m_type = Zelta_AudioPacket_Other;
  } else {
    Zelta_Print::message(concat("unknown package: ", readLittleEndian(tag, 4)));
    m_type = Zelta_AudioPacket_Unknown;
  }
}

}  // namespace Zelta
