// Heat-map pictures of temperature matrices: each value coloured on the inferno scale (black,
// purple, red, orange, pale yellow) from the matrix's minimum to its maximum, with a scale bar
// below the picture that shows the two temperatures. Written as PNG with libpng.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qrmhost {

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// The 256 colours of the inferno scale, index 0 the coldest.
const std::array<Rgb, 256>& infernoScale();

struct HeatMapSize {
  uint32_t width;
  uint32_t height;
};
// Rows of the scale bar under the picture: the colour strip and the two temperatures.
constexpr uint32_t kScaleBarRows = 24;
// The picture of a width × height matrix: every value one pixel, the bar below.
HeatMapSize heatMapSize(uint32_t width, uint32_t height);

// RGB rows (row order, 3 bytes a pixel) of the heat map of `values` (width × height, row order).
std::vector<uint8_t> heatMapPixels(const float* values, uint32_t width, uint32_t height);

// Writes the heat map to `path`; the reason on failure, empty on success.
std::string writeHeatMap(const std::string& path, const float* values, uint32_t width, uint32_t height);

}  // namespace qrmhost
