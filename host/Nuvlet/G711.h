// G.711 u-law, the cameras' audio: one byte per 16-bit linear sample. Implemented in libNuvlet;
// also compiled into programs that must not link it (the nuvlet_text object library). Pure
// function, any thread.
#pragma once

#include <cstdint>

namespace Talvo {
namespace Utility {

std::uint8_t linearToUlaw(std::int16_t sample);

}  // namespace Utility
}  // namespace Talvo
