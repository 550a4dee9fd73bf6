// Encodes RGB pictures into complete baseline JPEGs with libjpeg-turbo.
// The output starts FF D8 FF E0 (JFIF APP0) and uses the standard Huffman tables, so every
// picture of one size and quality carries the same tables (delta pictures rely on it).
// Thread safety: free function, no shared state; call from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

// Throws std::runtime_error when libjpeg reports an error.
std::string encodeJpeg(const std::vector<std::uint8_t>& rgb, int width, int height, int quality);

}  // namespace camsim
