// Numbers in texts of the camera and the host. Declarations only; implemented in libNuvlet.
#pragma once

#include <string>

namespace Talvo {
namespace Utility {

// Locale-independent decimal conversion of the whole text (blanks around it allowed);
// throws std::invalid_argument for anything else.
double stringToDouble(const std::string& text);

}  // namespace Utility
}  // namespace Talvo
