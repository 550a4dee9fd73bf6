#include "Zelta_R9ImageWindowInfo.h"

#include <cstdlib>

namespace Zelta {
namespace {

// Reads "<x>,<y>" after `key` into x and y.
void readPair(const std::string& value, const char* key, int& x, int& y) {
  const size_t at = value.find(key);
  if (at == std::string::npos) return;
  const char* text = value.c_str() + at + std::char_traits<char>::length(key);
  char* end = nullptr;
  x = static_cast<int>(std::strtol(text, &end, 10));
  if (end && *end == ',') y = static_cast<int>(std::strtol(end + 1, nullptr, 10));
}

}  // namespace

std::shared_ptr<Zelta_R9ImageWindowInfo> Zelta_R9ImageWindowInfo::parse(const std::string& value) {
  auto window = std::make_shared<Zelta_R9ImageWindowInfo>();
  readPair(value, "lt=", window->left, window->top);
  readPair(value, "rb=", window->right, window->bottom);
  const size_t flags = value.find("flags=");
  if (flags != std::string::npos) {
    const size_t start = flags + 6;
    window->flags = value.substr(start, value.find_first_of(" ;", start) - start);
  }
  return window;
}

}  // namespace Zelta
