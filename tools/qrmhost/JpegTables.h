// Zelta delta pictures are JPEG pictures without their tables (DQT, DHT): a decoder takes them
// from the last key picture. A browser shows each picture on its own, so the console puts the
// key picture's tables back into the delta pictures. The bytes come from a camera: every length
// is checked against what is there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qrmhost {

// The DQT and DHT segments of a JPEG picture before its first scan, whole and in order; nullopt
// when the bytes are no such picture (no SOI, a segment cut short, no scan) or hold no table.
std::optional<std::string> jpegTables(const uint8_t* bytes, size_t size);

// The picture with `tables` inserted after its SOI and APPn segments; nullopt when the bytes are
// no JPEG picture with a scan. A picture that has a DQT of its own comes back as it is.
std::optional<std::string> withJpegTables(const uint8_t* bytes, size_t size, const std::string& tables);

}  // namespace qrmhost
