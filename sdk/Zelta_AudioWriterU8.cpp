#include "Zelta_AudioWriterU8.h"

#include <cmath>

namespace Zelta {

void Zelta_AudioWriterU8::write(float sample, uint8_t* out) const {
  out[0] = static_cast<uint8_t>(std::lround(clamped(sample) * 127.0f) + 128);
}

}  // namespace Zelta
