// Little-endian numbers in camera bytes (ZLF blocks, audio packets and prefixes). The caller has
// checked that the bytes are there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zelta {

inline uint64_t readLittleEndian(const uint8_t* bytes, size_t count) {
  uint64_t value = 0;
  for (size_t i = 0; i < count; ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  return value;
}

inline void writeLittleEndian(uint8_t* out, uint64_t value, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace Zelta
