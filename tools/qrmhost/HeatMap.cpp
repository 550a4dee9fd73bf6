#include "HeatMap.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "JsonLine.h"

namespace qrmhost {

namespace {

// The inferno scale at eleven evenly spaced points; the 256 colours lie on straight lines
// between them.
constexpr Rgb kInfernoAnchors[] = {{0x00, 0x00, 0x04}, {0x16, 0x0b, 0x39}, {0x42, 0x0a, 0x68}, {0x6a, 0x17, 0x6e},
                                   {0x93, 0x26, 0x67}, {0xbc, 0x37, 0x54}, {0xdd, 0x51, 0x3a}, {0xf3, 0x78, 0x19},
                                   {0xfc, 0xa5, 0x0a}, {0xf6, 0xd7, 0x46}, {0xfc, 0xff, 0xa4}};

// Digits, minus, point, colon, "C", "T", "Z" and the degree sign (written '\x01') in 3 × 5 dots
// (bit 2 is the left column), drawn twice as large.
struct Glyph {
  char c;
  uint8_t rows[5];
};
constexpr Glyph kFont[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'-', {0, 0, 7, 0, 0}}, {'.', {0, 0, 0, 0, 2}},
    {'C', {7, 4, 4, 4, 7}}, {':', {0, 2, 0, 2, 0}}, {'T', {7, 2, 2, 2, 2}}, {'Z', {7, 1, 2, 4, 7}},
    {'\x01', {2, 5, 2, 0, 0}},
};
constexpr uint32_t kMinimumWidth = 480;  // a map people can read without zooming
constexpr int kDot = 2;              // screen pixels per font dot
constexpr int kAdvance = 4 * kDot;   // glyph width plus one dot of space
constexpr uint32_t kStripRows = 10;  // colour strip at the top of the bar
constexpr uint32_t kTextTop = kStripRows + 2;
constexpr Rgb kTextColour{255, 255, 255};

const Glyph* glyphOf(char c) {
  for (const Glyph& glyph : kFont)
    if (glyph.c == c) return &glyph;
  return nullptr;
}

class Canvas {
 public:
  Canvas(uint32_t width, uint32_t height) : width_(width), height_(height), pixels_(size_t(width) * height * 3, 0) {}
  void set(uint32_t x, uint32_t y, Rgb colour) {
    if (x >= width_ || y >= height_) return;
    uint8_t* p = &pixels_[(size_t(y) * width_ + x) * 3];
    p[0] = colour.r;
    p[1] = colour.g;
    p[2] = colour.b;
  }
  // `text` with its left edge at `left` (negative: clipped).
  void text(int left, uint32_t top, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
      const Glyph* glyph = glyphOf(text[i]);
      if (!glyph) continue;
      for (int row = 0; row < 5; ++row)
        for (int column = 0; column < 3; ++column)
          if (glyph->rows[row] & (4 >> column))
            for (int dy = 0; dy < kDot; ++dy)
              for (int dx = 0; dx < kDot; ++dx) {
                const int x = left + int(i) * kAdvance + column * kDot + dx;
                if (x >= 0) set(uint32_t(x), top + uint32_t(row * kDot + dy), kTextColour);
              }
    }
  }
  std::vector<uint8_t> take() { return std::move(pixels_); }
  uint32_t width() const { return width_; }

 private:
  uint32_t width_, height_;
  std::vector<uint8_t> pixels_;
};

std::string celsiusText(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f\x01" "C", static_cast<double>(value));
  return text;
}

// A cross of arm `arm` around pixel (x, y).
void markPoint(Canvas& canvas, uint32_t x, uint32_t y, uint32_t arm) {
  for (uint32_t d = 0; d <= arm; ++d) {
    canvas.set(x + d, y, kHottestMark);
    canvas.set(x, y + d, kHottestMark);
    if (d <= x) canvas.set(x - d, y, kHottestMark);
    if (d <= y) canvas.set(x, y - d, kHottestMark);
  }
}

}  // namespace

const std::array<Rgb, 256>& infernoScale() {
  static const std::array<Rgb, 256> scale = [] {
    std::array<Rgb, 256> colours{};
    constexpr int kSegments = sizeof kInfernoAnchors / sizeof kInfernoAnchors[0] - 1;
    for (int i = 0; i < 256; ++i) {
      const double at = i * double(kSegments) / 255.0;
      const int from = std::min(kSegments - 1, static_cast<int>(at));
      const double t = at - from;
      const Rgb a = kInfernoAnchors[from], b = kInfernoAnchors[from + 1];
      const auto mix = [t](uint8_t x, uint8_t y) { return static_cast<uint8_t>(std::lround(x + (y - x) * t)); };
      colours[i] = {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
    }
    return colours;
  }();
  return scale;
}

uint32_t heatMapScale(uint32_t width, const HeatMapStyle& style) {
  if (style.scale > 0) return style.scale;
  return width == 0 ? 1 : std::max<uint32_t>(1, (kMinimumWidth + width - 1) / width);
}

HeatMapSize heatMapSize(uint32_t width, uint32_t height, uint32_t scale) {
  return {width * scale, height * scale + kScaleBarRows};
}

std::vector<uint8_t> heatMapPixels(const float* values, uint32_t width, uint32_t height, const HeatMapStyle& style) {
  const uint32_t factor = heatMapScale(width, style);
  const HeatMapSize size = heatMapSize(width, height, factor);
  Canvas canvas(size.width, size.height);
  const size_t count = size_t(width) * height;
  if (count == 0) return canvas.take();
  const auto [low, high] = std::minmax_element(values, values + count);
  const float min = style.fixedRange ? style.low : *low, max = style.fixedRange ? style.high : *high;
  const float span = max > min ? max - min : 1.0f;
  const auto& scale = infernoScale();
  for (uint32_t y = 0; y < size.height - kScaleBarRows; ++y)
    for (uint32_t x = 0; x < size.width; ++x) {
      const float relative = (values[size_t(y / factor) * width + x / factor] - min) / span;
      canvas.set(x, y, scale[static_cast<size_t>(std::lround(std::clamp(relative, 0.0f, 1.0f) * 255.0f))]);
    }
  const size_t hottest = static_cast<size_t>(high - values);
  markPoint(canvas, uint32_t(hottest % width) * factor + factor / 2, uint32_t(hottest / width) * factor + factor / 2,
            std::max<uint32_t>(3, factor * 2));
  const uint32_t top = size.height - kScaleBarRows;
  for (uint32_t x = 0; x < size.width; ++x) {
    const Rgb colour = scale[size.width > 1 ? size_t(x) * 255 / (size.width - 1) : 255];
    for (uint32_t row = 0; row < kStripRows; ++row) canvas.set(x, top + row, colour);
  }
  const std::string maxText = celsiusText(max), time = isoTime(style.time);
  canvas.text(0, top + kTextTop, celsiusText(min));
  canvas.text(int(size.width) - int(maxText.size()) * kAdvance + kDot, top + kTextTop, maxText);
  if (time.size() * kAdvance + 2 * 10 * kAdvance < size.width)  // room between the two temperatures
    canvas.text(int(size.width - time.size() * kAdvance) / 2, top + kTextTop, time);
  return canvas.take();
}

std::string writeHeatMap(const std::string& path, const float* values, uint32_t width, uint32_t height,
                         const HeatMapStyle& style) {
  const HeatMapSize size = heatMapSize(width, height, heatMapScale(width, style));
  const std::vector<uint8_t> pixels = heatMapPixels(values, width, height, style);
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) return "cannot create " + path;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return "cannot start a PNG";
  }
  if (setjmp(png_jmpbuf(png))) {  // libpng's way of reporting a failed write
    png_destroy_write_struct(&png, &info);
    return "cannot write " + path;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, size.width, size.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < size.height; ++y)
    png_write_row(png, const_cast<png_bytep>(&pixels[size_t(y) * size.width * 3]));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return "";
}

}  // namespace qrmhost
