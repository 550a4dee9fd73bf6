// The moving test picture: colour bars with fine noise texture, a box that moves one step per
// picture and a stripe at the bottom showing the picture number in binary (white = 1).
#pragma once

#include <cstdint>
#include <vector>

namespace camsim {

// RGB bytes, row by row, width * height * 3. Same frame number gives the same picture.
std::vector<std::uint8_t> renderTestPattern(int width, int height, std::uint64_t frame);

}  // namespace camsim
