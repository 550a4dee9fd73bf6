// Base64 (RFC 4648, with '=' padding, no line breaks). Implemented in libNuvlet; also compiled
// into programs that must not link it (the nuvlet_text object library). Pure functions, any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Talvo {
namespace Utility {

std::string base64Encode(std::string_view bytes);

// Null when `text` is not base64 (wrong length, a character outside the alphabet, padding
// anywhere but at the end).
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace Utility
}  // namespace Talvo
