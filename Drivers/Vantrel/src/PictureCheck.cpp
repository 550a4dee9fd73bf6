#include "PictureCheck.h"

#include <cstring>

namespace Vantrel {

ZeltaFrameKind zeltaFrameKind(const uint8_t* data, size_t size) {
  if (data == nullptr || size < 7 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF)
    return ZeltaFrameKind::NotAFrame;
  size_t marker = 2;  // offset of the FF of the current marker
  for (;;) {
    const uint8_t code = data[marker + 1];
    if (code == 0xDB || code == 0xC4) return ZeltaFrameKind::WithTables;  // quantisation or Huffman table
    if (code == 0xDA) return ZeltaFrameKind::WithoutTables;               // start of scan
    // The segment length follows the marker; marker + 3 < size - 4 holds on every pass.
    const size_t length = (size_t(data[marker + 2]) << 8) | data[marker + 3];
    const size_t next = marker + 2 + length;
    if (next >= size - 4 || data[next] != 0xFF) return ZeltaFrameKind::NotAFrame;
    marker = next;
  }
}

PictureVerdict checkPicture(const uint8_t* data, size_t size, const std::string& codec) {
  static const uint8_t kStart[] = {0xFF, 0xD8, 0xFF, 0xE0};
  if (data == nullptr || size <= 5 || std::memcmp(data, kStart, sizeof kStart) != 0 || data[size - 2] != 0xFF ||
      data[size - 1] != 0xD9)
    return PictureVerdict::Malformed;
  if (codec != "Zelta") return PictureVerdict::Key;
  switch (zeltaFrameKind(data, size)) {
    case ZeltaFrameKind::WithTables:
      return PictureVerdict::Key;
    case ZeltaFrameKind::WithoutTables:
      return PictureVerdict::Delta;
    case ZeltaFrameKind::NotAFrame:
      break;
  }
  return PictureVerdict::Invalid;
}

}  // namespace Vantrel
