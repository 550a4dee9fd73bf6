#include "host/Nuvlet/G711.h"

namespace Talvo {
namespace Utility {

std::uint8_t linearToUlaw(std::int16_t sample) {
  constexpr int kBias = 0x84;
  constexpr int kClip = 32635;
  int value = sample;
  const int sign = value < 0 ? 0x80 : 0;
  if (value < 0) value = -value;
  if (value > kClip) value = kClip;
  value += kBias;
  int exponent = 7;
  for (int mask = 0x4000; (value & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
  const int mantissa = (value >> (exponent + 3)) & 0x0F;
  return static_cast<std::uint8_t>(~(sign | (exponent << 4) | mantissa));
}

}  // namespace Utility
}  // namespace Talvo
