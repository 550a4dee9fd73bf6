#include "TestPattern.h"

#include <algorithm>

namespace camsim {

namespace {

constexpr std::uint8_t kBars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                      {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};
// Noise amplitude: enough detail that a 1920x1080 picture at quality 95 is about 600 KB.
constexpr int kNoiseAmplitude = 6;
constexpr int kCounterBits = 16;

std::uint8_t clampByte(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

// Small fast generator; the noise only has to look like texture to the encoder.
struct XorShift {
  std::uint32_t state;
  std::uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
};

void paintBars(std::vector<std::uint8_t>& rgb, int width, int height, std::uint64_t frame) {
  XorShift noise{static_cast<std::uint32_t>(frame * 2654435761u) | 1u};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto& bar = kBars[(x * 8) / width];
      const int grain = static_cast<int>(noise.next() % (2 * kNoiseAmplitude + 1)) - kNoiseAmplitude;
      std::uint8_t* pixel = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      for (int c = 0; c < 3; ++c) pixel[c] = clampByte(bar[c] + grain);
    }
  }
}

void fillRect(std::vector<std::uint8_t>& rgb, int width, int height, int left, int top, int w, int h,
              std::uint8_t value) {
  for (int y = std::max(top, 0); y < std::min(top + h, height); ++y) {
    for (int x = std::max(left, 0); x < std::min(left + w, width); ++x) {
      std::uint8_t* pixel = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      pixel[0] = pixel[1] = pixel[2] = value;
    }
  }
}

void paintMovingBox(std::vector<std::uint8_t>& rgb, int width, int height, std::uint64_t frame) {
  const int side = std::max(8, height / 6);
  const int travel = std::max(1, width - side);
  const int left = static_cast<int>((frame * 8) % static_cast<std::uint64_t>(travel));
  fillRect(rgb, width, height, left, height / 3, side, side, 255);
}

void paintCounterStripe(std::vector<std::uint8_t>& rgb, int width, int height, std::uint64_t frame) {
  const int stripeHeight = std::max(4, height / 20);
  const int cell = std::max(1, width / kCounterBits);
  for (int bit = 0; bit < kCounterBits; ++bit) {
    const bool one = (frame >> (kCounterBits - 1 - bit)) & 1u;
    fillRect(rgb, width, height, bit * cell, height - stripeHeight, cell, stripeHeight, one ? 255 : 0);
  }
}

}  // namespace

std::vector<std::uint8_t> renderTestPattern(int width, int height, std::uint64_t frame) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  paintBars(rgb, width, height, frame);
  paintMovingBox(rgb, width, height, frame);
  paintCounterStripe(rgb, width, height, frame);
  return rgb;
}

}  // namespace camsim
