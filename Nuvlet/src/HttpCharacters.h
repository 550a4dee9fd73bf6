// Character classes of HTTP heads, shared by the request writer and the answer reader of
// libNuvlet. Private to the library.
#pragma once

#include <cstring>

namespace Talvo {
namespace http {
namespace characters {

inline char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Token characters of methods and header names.
inline bool isTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// Characters allowed in a reason phrase and in header values: visible ASCII, blank, tab and
// bytes >= 0x80; no other control character.
inline bool isTextChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u == '\t' || (u >= 0x20 && u != 0x7f);
}

}  // namespace characters
}  // namespace http
}  // namespace Talvo
