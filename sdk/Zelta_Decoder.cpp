#include "Zelta_Decoder.h"

#include <cstring>
#include <new>

#include "Zelta_Print.h"

namespace Zelta {
namespace {

constexpr uint8_t kSOI = 0xD8, kEOI = 0xD9, kSOF0 = 0xC0, kDHT = 0xC4, kDQT = 0xDB, kSOS = 0xDA, kCOM = 0xFE;
constexpr size_t kMetaOffset = 16;

bool standalone(uint8_t marker) { return (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01 || marker == kSOI; }
// Markers that carry a length: SOFn, DHT, DAC, DQT, DNL, DRI, DHP, EXP, APPn, JPGn, COM.
bool withLength(uint8_t marker) { return marker >= 0xC0 && marker != kEOI && !standalone(marker); }

bool hasPrefix(const uint8_t* payload, size_t length, const char* prefix, size_t prefixLength) {
  return length >= prefixLength && std::memcmp(payload, prefix, prefixLength) == 0;
}

std::string printable(const uint8_t* payload, size_t length) {
  std::string out;
  for (size_t i = 0; i < length && i < 4; ++i) out += payload[i] >= 0x20 && payload[i] < 0x7F ? char(payload[i]) : '.';
  return out;
}

}  // namespace

Zelta_Decoder::Zelta_Decoder() : m_buffers(std::make_shared<Zelta_FrameBuffers>()), m_thermal(m_buffers) {}

bool Zelta_Decoder::decode(Zelta_ImageInternal& image, int imageMode) {
  m_thermal.discard();  // leftovers of a picture that was not finished
  if (image.jpegData() == nullptr || image.jpegSize() == 0) {
    Zelta_Print::message("Critical: No decoding buffer, abort");
    return false;
  }
  try {
    return decodeSegments(image, imageMode);
  } catch (const std::bad_alloc&) {
    // Thermal data and the image's own blocks allocate; a picture that cannot be held is dropped.
    Zelta_Print::message("Out-of-memory: Decoder failes");
    m_thermal.discard();
    return false;
  }
}

bool Zelta_Decoder::decodeSegments(Zelta_ImageInternal& image, int imageMode) {
  const uint8_t* data = image.jpegData();
  const size_t length = image.jpegSize();
  if (length < 2 || data[0] != 0xFF || data[1] != kSOI) {
    Zelta_Print::message("Error: No segment start found ");
    return false;
  }
  size_t pos = 2;
  bool end = false;
  while (!end) {
    if (length - pos < 2) {
      Zelta_Print::message(concat("Error: No segment found in ", length - pos, " bytes data"));
      m_thermal.discard();
      return false;
    }
    const size_t used = decodeSegment(data + pos, length - pos, image, end);
    if (used == 0) {
      m_thermal.discard();
      return false;
    }
    pos += used;
  }
  if (imageMode != 0) Zelta_Print::message("unsupported target format in decoder, dropping decoded image data!");
  for (auto& sensor : m_thermal.finish()) image.addThermalRawData(std::move(sensor));
  return true;
}

size_t Zelta_Decoder::decodeSegment(const uint8_t* data, size_t available, Zelta_ImageInternal& image, bool& end) {
  if (available < 2 || data[0] != 0xFF) {
    Zelta_Print::message("Error: No segment start found ");
    return 0;
  }
  const uint8_t marker = data[1];
  if (marker == 0xFF) return 1;  // fill byte before a marker
  if (marker == kEOI) {
    end = true;
    return 2;
  }
  if (standalone(marker)) return 2;
  if (!withLength(marker)) {
    Zelta_Print::message("unknown marker: ");
    return 0;
  }
  if (available < 4) {
    Zelta_Print::message(concat("Error: No segment found in ", available, " bytes data"));
    return 0;
  }
  const size_t segmentLength = 2 + (256u * data[2] + data[3]);
  if (segmentLength < 4 || segmentLength > available) {
    Zelta_Print::message("Error decoding segment");
    return 0;
  }
  ZELTA_TRACE(kTraceDecoder, "marker ", int(marker), " length ", segmentLength);
  switch (marker) {
    case kSOF0:
      decodeFrameHeader(data + 4, segmentLength - 4, image);
      break;
    case kCOM:
      decodeComment(data, segmentLength, image);
      break;
    case kSOS:
      return scanToEnd(data, available, segmentLength, end);
    case kDHT:
    case kDQT:
    default:
      break;  // tables and other segments: only their bounds matter without pixel decoding
  }
  return segmentLength;
}

// The entropy-coded scan runs to the end-of-image pair; it is not decoded. Only the 0xFF bytes
// are looked at (memchr), the scan's other bytes are skipped.
size_t Zelta_Decoder::scanToEnd(const uint8_t* data, size_t available, size_t headerLength, bool& end) {
  for (size_t i = headerLength; i + 1 < available; ++i) {
    const void* mark = std::memchr(data + i, 0xFF, available - 1 - i);
    if (!mark) break;
    i = static_cast<size_t>(static_cast<const uint8_t*>(mark) - data);
    if (data[i + 1] == kEOI) {
      end = true;
      return i + 2;
    }
  }
  Zelta_Print::message("Error decoding segment");
  return 0;
}

void Zelta_Decoder::decodeFrameHeader(const uint8_t* payload, size_t length, Zelta_ImageInternal& image) {
  if (length < 5) return;  // precision, height, width
  image.setSize(256u * payload[3] + payload[4], 256u * payload[1] + payload[2]);
}

void Zelta_Decoder::decodeComment(const uint8_t* segment, size_t segmentLength, Zelta_ImageInternal& image) {
  const uint8_t* payload = segment + 4;
  const size_t length = segmentLength - 4;
  ZELTA_TRACE(kTraceDecoder, "processing COM segment ", printable(payload, length));
  if (hasPrefix(payload, length, "#:R9IMG", 7)) {
    image.setTextHeader({payload, length});
  } else if (hasPrefix(payload, length, "ZLF\0", 4)) {
    image.setInfoBlock({payload, length});
  } else if (hasPrefix(payload, length, "ZLM\0", 4)) {
    if (length <= kMetaOffset) return;
    m_meta.assign(payload + kMetaOffset, payload + length);
    image.setMetaBlock({payload + kMetaOffset, length - kMetaOffset});
  } else if (hasPrefix(payload, length, "ZLT\0", 4)) {
    m_thermal.addSegment(segment, segmentLength);
  }
}

}  // namespace Zelta
