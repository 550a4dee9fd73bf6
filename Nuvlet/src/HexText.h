// Bytes as lower-case hex digits: digests for Digest answers and certificate fingerprints.
// Internal to the library; header-only.
#pragma once

#include <cstddef>
#include <string>

namespace Talvo {
namespace text {

inline std::string lowerHex(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * size);
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

}  // namespace text
}  // namespace Talvo
