// Percent-coding of URL parts ("%41" for 'A'). Implemented in libNuvlet; also compiled into
// programs that must not link it (the nuvlet_text object library). Pure functions, any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Talvo {
namespace Utility {

// What percentDecode does with a '%' not followed by two hex digits.
enum class BadEscape {
  Refuse,        // the whole text is refused (connection texts: a typo must not pass unseen)
  KeepAsWritten  // the '%' and what follows stay as they are (lenient servers)
};

// "%XX" becomes the byte XX; '+' stays '+' (cameras write "30+50" and mean it). Null only when
// `badEscape` is Refuse and an escape is malformed.
std::optional<std::string> percentDecode(std::string_view text, BadEscape badEscape = BadEscape::Refuse);

// Every byte except the unreserved ones (letters, digits, "-._~") as "%XX" with upper-case hex,
// so that any value can stand in a query.
std::string percentEncode(std::string_view text);

}  // namespace Utility
}  // namespace Talvo
