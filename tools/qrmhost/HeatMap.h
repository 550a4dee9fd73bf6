// Heat-map pictures of temperature matrices: each value coloured on the inferno scale (black,
// purple, red, orange, pale yellow) from the matrix's minimum to its maximum (or a fixed range, so
// that successive maps compare), every value a square of `scale` pixels, the hottest point marked
// with a cyan cross, and a legend below: the colour strip, the two temperatures in °C and the
// matrix's time. Written as PNG with libpng.
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

// The mark of the hottest point.
constexpr Rgb kHottestMark{0, 255, 255};

struct HeatMapStyle {
  uint32_t scale = 0;                  // pixels per value; 0: the smallest that makes the map 480 wide
  bool fixedRange = false;             // colour from `low` to `high` instead of the matrix's own
  float low = 0, high = 0;
  uint64_t time = 0;                   // the matrix's time, ms since 1970, shown in the legend
};

struct HeatMapSize {
  uint32_t width;
  uint32_t height;
};
// Rows of the legend under the picture: the colour strip, the temperatures and the time.
constexpr uint32_t kScaleBarRows = 24;
// The pixels per value `style` gives a matrix `width` wide.
uint32_t heatMapScale(uint32_t width, const HeatMapStyle& style);
// The picture of a width × height matrix: every value a square of `scale` pixels, the legend below.
HeatMapSize heatMapSize(uint32_t width, uint32_t height, uint32_t scale);

// RGB rows (row order, 3 bytes a pixel) of the heat map of `values` (width × height, row order).
std::vector<uint8_t> heatMapPixels(const float* values, uint32_t width, uint32_t height, const HeatMapStyle& style);

// Writes the heat map to `path`; the reason on failure, empty on success.
std::string writeHeatMap(const std::string& path, const float* values, uint32_t width, uint32_t height,
                         const HeatMapStyle& style);

}  // namespace qrmhost
