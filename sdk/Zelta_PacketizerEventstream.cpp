#include "Zelta_PacketizerEventstream.h"

#include <algorithm>
#include <cstring>

#include "Zelta_Print.h"

namespace Zelta {
namespace {

constexpr uint8_t kSOI = 0xD8, kSOS = 0xDA, kEOI = 0xD9;

bool isSkippedMarkerSegment(uint8_t marker) {
  return marker == 0xC0 || marker == 0xC4 || marker == 0xDB || marker == 0xE0 || marker == 0xEB || marker == 0xEC ||
         marker == 0xED || marker == 0xFE;
}

}  // namespace

void Zelta_PacketizerEventstream::resetScan() {
  m_soi = -1;
  m_sos = -1;
  m_scanPos = 0;
}

bool Zelta_PacketizerEventstream::findFrame(Zelta_Frame& frame) {
  const uint8_t* data = m_buffer.readPointer();
  const size_t length = m_buffer.unread();
  if (length < 8) return false;
  size_t pos = m_scanPos;
  while (m_sos < 0 && pos + 1 < length) {
    const auto* ff = static_cast<const uint8_t*>(std::memchr(data + pos, 0xFF, length - pos - 1));
    if (!ff) {
      pos = length - 1;
      break;
    }
    const size_t at = static_cast<size_t>(ff - data);
    const uint8_t marker = data[at + 1];
    if (marker == kSOI) {
      m_soi = static_cast<long>(at);  // a new start also ends a picture cut short
      pos = at + 2;
    } else if (m_soi < 0) {
      pos = at + 1;
    } else if (marker == kSOS) {
      m_sos = static_cast<long>(at);
      pos = at + 2;
    } else if (isSkippedMarkerSegment(marker)) {
      if (at + 4 > length) {
        pos = at;  // its length has not arrived yet
        break;
      }
      pos = at + 256u * data[at + 2] + data[at + 3] + 2;
    } else {
      pos = at + 1;
    }
  }
  if (m_soi < 0) {
    // Nothing of a picture yet: forget the bytes scanned, except a trailing 0xFF.
    const size_t keep = data[length - 1] == 0xFF ? 1 : 0;
    m_buffer.consume(length - keep);
    m_scanPos = 0;
    return false;
  }
  if (m_sos < 0) {
    m_scanPos = pos;
    return false;
  }
  pos = std::max(pos, static_cast<size_t>(m_sos) + 2);
  while (pos + 1 < length) {
    const auto* ff = static_cast<const uint8_t*>(std::memchr(data + pos, 0xFF, length - pos - 1));
    if (!ff) break;
    const size_t at = static_cast<size_t>(ff - data);
    if (data[at + 1] == kEOI) {
      frame.data = data + m_soi;
      frame.length = at + 2 - static_cast<size_t>(m_soi);
      m_buffer.peek(at + 2);
      resetScan();
      return true;
    }
    pos = at + 1;
  }
  m_scanPos = length - 1;  // the last byte may be the 0xFF of the end pair
  return false;
}

bool Zelta_PacketizerEventstream::takeMarkedFrame(Zelta_Frame& frame) {
  if (!m_pictureEnded) return false;
  m_pictureEnded = false;
  const uint8_t* data = m_buffer.readPointer();
  const size_t length = m_buffer.unread();
  // Bytes that followed the previous picture come first; the picture starts at its SOI.
  size_t start = 0;
  while (start + 1 < length && !(data[start] == 0xFF && data[start + 1] == kSOI)) {
    const auto* ff = static_cast<const uint8_t*>(std::memchr(data + start + 1, 0xFF, length - start - 1));
    start = ff ? static_cast<size_t>(ff - data) : length;
  }
  if (start + 1 >= length) {
    m_buffer.consume(length);
    return false;
  }
  // A whole picture ends with its end-of-image pair; without it the source lost its last
  // pieces (full queue, new connection) and ended it with an empty mark.
  if (length - start < 4 || data[length - 2] != 0xFF || data[length - 1] != kEOI) {
    Zelta_Print::message(concat("picture cut short, dropping ", length - start, " bytes"));
    m_streamInfo->addValue(Zelta_StreamInfo::kBytesDropped, static_cast<int>(length - start));
    m_buffer.consume(length);
    return false;
  }
  frame.data = data + start;
  frame.length = length - start;
  m_buffer.peek(length);
  return true;
}

int Zelta_PacketizerEventstream::nextFrame(Zelta_Frame* frame) {
  if (!frame) {
    Zelta_Print::message("nextFrame missing parameter");
    return 5;
  }
  *frame = Zelta_Frame{};
  m_buffer.consumePeeked();
  const bool marked = m_source->marksPictureEnds();
  for (;;) {
    if (marked ? takeMarkedFrame(*frame) : findFrame(*frame)) {
      if (m_source->queuedVideoBytes() <= kMaxQueuedVideoBytes) return 0;
      Zelta_Print::message("input queue too large, skipping frame");
      m_streamInfo->addValue(Zelta_StreamInfo::kFramesSkipped, 1);
      m_streamInfo->addValue(Zelta_StreamInfo::kBytesDropped, static_cast<int>(frame->length));
      *frame = Zelta_Frame{};
      m_buffer.consumePeeked();
      continue;
    }
    if (m_buffer.unread() > kMaxBufferedBytes) {
      const size_t dropped = m_buffer.unread();
      Zelta_Print::message(concat("source buffer cached more than 8 MB of image data! Current payload size ", dropped,
                                  " bytes. This should not happen! Dropping data!"));
      m_streamInfo->addValue(Zelta_StreamInfo::kBytesDropped, static_cast<int>(dropped));
      m_buffer.clear();
      resetScan();
      return 2;
    }
    if (!fill(marked ? &m_pictureEnded : nullptr)) return 0;
  }
}

}  // namespace Zelta
