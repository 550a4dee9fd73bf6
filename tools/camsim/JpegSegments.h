// Byte-level edits of complete JPEG pictures, used to make Zelta delta pictures and to add
// the event comment. All functions are pure.
#pragma once

#include <string>

namespace camsim {

// The picture without its DQT (FF DB) and DHT (FF C4) segments before the scan: a Zelta
// delta picture, decodable only with the tables of the last key picture.
// Throws std::invalid_argument when the bytes are not a JPEG with a scan.
std::string stripTables(const std::string& jpeg);

// True when a DQT or DHT segment comes before the start of scan (FF DA).
bool hasTablesBeforeScan(const std::string& jpeg);

// A COM segment (FF FE, 16-bit big-endian length counting itself) holding the text.
// Throws std::invalid_argument when the text is longer than a segment can hold.
std::string commentSegment(const std::string& text);

// The picture with the segment placed right after the leading APP0 segment.
// Throws std::invalid_argument when the picture does not start FF D8 FF E0.
std::string insertAfterApp0(const std::string& jpeg, const std::string& segment);

}  // namespace camsim
