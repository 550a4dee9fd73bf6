#include "JpegTables.h"

namespace qrmhost {
namespace {

constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kQuantisationTable = 0xDB;
constexpr uint8_t kHuffmanTable = 0xC4;

bool isApplicationSegment(uint8_t marker) { return marker >= 0xE0 && marker <= 0xEF; }

// Calls visit(marker, offset, length of the whole segment) for each marker segment from SOI up to
// and with the first SOS; false when the bytes end or break before it.
template <class Visit>
bool walkHeader(const uint8_t* bytes, size_t size, Visit visit) {
  if (size < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;
  size_t at = 2;
  while (at + 4 <= size) {
    if (bytes[at] != 0xFF) return false;
    const uint8_t marker = bytes[at + 1];
    if (marker == 0xFF) {  // a fill byte before the marker
      ++at;
      continue;
    }
    if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD9)) return false;
    const size_t length = 2 + (size_t{bytes[at + 2]} << 8 | bytes[at + 3]);
    if (length < 4 || length > size - at) return false;
    visit(marker, at, length);
    if (marker == kStartOfScan) return true;
    at += length;
  }
  return false;
}

}  // namespace

std::optional<std::string> jpegTables(const uint8_t* bytes, size_t size) {
  std::string tables;
  const bool scanned = walkHeader(bytes, size, [&](uint8_t marker, size_t at, size_t length) {
    if (marker == kQuantisationTable || marker == kHuffmanTable)
      tables.append(reinterpret_cast<const char*>(bytes + at), length);
  });
  if (!scanned || tables.empty()) return std::nullopt;
  return tables;
}

std::optional<std::string> withJpegTables(const uint8_t* bytes, size_t size, const std::string& tables) {
  size_t insertAt = 0;
  bool hasOwnTables = false;
  const bool scanned = walkHeader(bytes, size, [&](uint8_t marker, size_t at, size_t) {
    if (marker == kQuantisationTable) hasOwnTables = true;
    if (insertAt == 0 && !isApplicationSegment(marker)) insertAt = at;
  });
  if (!scanned) return std::nullopt;
  const char* text = reinterpret_cast<const char*>(bytes);
  if (hasOwnTables) return std::string(text, size);
  std::string picture;
  picture.reserve(size + tables.size());
  picture.append(text, insertAt).append(tables).append(text + insertAt, size - insertAt);
  return picture;
}

}  // namespace qrmhost
