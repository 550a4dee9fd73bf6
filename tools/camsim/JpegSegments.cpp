#include "JpegSegments.h"

#include <stdexcept>

namespace camsim {

namespace {

constexpr unsigned char kMarker = 0xFF;
constexpr unsigned char kStartOfScan = 0xDA;
constexpr unsigned char kQuantTable = 0xDB;
constexpr unsigned char kHuffmanTable = 0xC4;

unsigned byteAt(const std::string& data, std::size_t index) { return static_cast<unsigned char>(data.at(index)); }

std::size_t segmentLength(const std::string& jpeg, std::size_t markerAt) {
  return (byteAt(jpeg, markerAt + 2) << 8) | byteAt(jpeg, markerAt + 3);
}

// Walks the segments between SOI and SOS; calls visit(markerAt, marker, totalSize) for each
// and returns the offset of the SOS marker.
template <class Visit>
std::size_t walkHeaderSegments(const std::string& jpeg, Visit visit) {
  if (jpeg.size() < 4 || byteAt(jpeg, 0) != kMarker || byteAt(jpeg, 1) != 0xD8) {
    throw std::invalid_argument("not a JPEG picture");
  }
  std::size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    if (byteAt(jpeg, at) != kMarker) throw std::invalid_argument("broken JPEG segment");
    const unsigned marker = byteAt(jpeg, at + 1);
    if (marker == kStartOfScan) return at;
    const std::size_t total = 2 + segmentLength(jpeg, at);
    if (at + total > jpeg.size()) throw std::invalid_argument("JPEG segment past the end");
    visit(at, marker, total);
    at += total;
  }
  throw std::invalid_argument("JPEG without a scan");
}

bool isTable(unsigned marker) { return marker == kQuantTable || marker == kHuffmanTable; }

}  // namespace

std::string stripTables(const std::string& jpeg) {
  std::string out = jpeg.substr(0, 2);
  const std::size_t scanAt = walkHeaderSegments(jpeg, [&](std::size_t at, unsigned marker, std::size_t total) {
    if (!isTable(marker)) out.append(jpeg, at, total);
  });
  out.append(jpeg, scanAt, std::string::npos);
  return out;
}

bool hasTablesBeforeScan(const std::string& jpeg) {
  bool found = false;
  walkHeaderSegments(jpeg, [&](std::size_t, unsigned marker, std::size_t) {
    if (isTable(marker)) found = true;
  });
  return found;
}

std::string commentSegment(const std::string& text) {
  const std::size_t length = text.size() + 2;
  if (length > 0xFFFF) throw std::invalid_argument("comment too long for one segment");
  std::string segment = {static_cast<char>(kMarker), static_cast<char>(0xFE), static_cast<char>(length >> 8),
                         static_cast<char>(length & 0xFF)};
  return segment + text;
}

std::string insertAfterApp0(const std::string& jpeg, const std::string& segment) {
  if (jpeg.size() < 6 || byteAt(jpeg, 0) != kMarker || byteAt(jpeg, 1) != 0xD8 || byteAt(jpeg, 2) != kMarker ||
      byteAt(jpeg, 3) != 0xE0) {
    throw std::invalid_argument("picture does not start with SOI and APP0");
  }
  const std::size_t afterApp0 = 2 + 2 + segmentLength(jpeg, 2);
  if (afterApp0 > jpeg.size()) throw std::invalid_argument("APP0 past the end");
  std::string out = jpeg.substr(0, afterApp0);
  out += segment;
  out.append(jpeg, afterApp0, std::string::npos);
  return out;
}

}  // namespace camsim
