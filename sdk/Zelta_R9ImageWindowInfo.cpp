#include "Zelta_R9ImageWindowInfo.h"

#include <algorithm>
#include <cstdlib>

namespace Zelta {
namespace {

constexpr int kMax = Zelta_R9ImageWindowInfo::kMaxCoordinate;

// A decimal number at `text`, clamped to +-kMaxCoordinate; `end` is where it stopped.
int readNumber(const char* text, char** end) {
  const long value = std::strtol(text, end, 10);
  return static_cast<int>(std::clamp<long>(value, -kMax, kMax));
}

// Reads "<x>,<y>" after `key` into x and y.
void readPair(const std::string& value, const char* key, int& x, int& y) {
  const size_t at = value.find(key);
  if (at == std::string::npos) return;
  const char* text = value.c_str() + at + std::char_traits<char>::length(key);
  char* end = nullptr;
  x = readNumber(text, &end);
  if (end && *end == ',') y = readNumber(end + 1, &end);
}

// The section's value of `key` as a number; false when the key is missing.
bool readKey(const std::map<std::string, std::string>& section, const char* key, int& number) {
  const auto it = section.find(key);
  if (it == section.end()) return false;
  char* end = nullptr;
  number = readNumber(it->second.c_str(), &end);
  return true;
}

}  // namespace

std::shared_ptr<Zelta_R9ImageWindowInfo> Zelta_R9ImageWindowInfo::parse(const std::string& value) {
  std::string flags;
  const size_t at = value.find("flags=");
  if (at != std::string::npos) {
    const size_t start = at + 6;
    flags = value.substr(start, value.find_first_of(" ;", start) - start);
  }
  std::shared_ptr<Zelta_R9ImageWindowInfo> window;
  if (flags.find("deskew") != std::string::npos)
    window = std::make_shared<Zelta_DeskewWindow>();
  else
    window = std::make_shared<Zelta_R9ImageWindowInfo>();
  readPair(value, "lt=", window->left, window->top);
  readPair(value, "rb=", window->right, window->bottom);
  window->flags = std::move(flags);
  return window;
}

std::optional<Zelta_WindowPoint> Zelta_R9ImageWindowInfo::windowPoint(double x, double y) const {
  if (!hasArea() || !(x >= left && x <= right && y >= top && y <= bottom)) return std::nullopt;  // NaN too
  return Zelta_WindowPoint{(x - left) / width(), (y - top) / height()};
}

std::optional<Zelta_WindowPoint> Zelta_DeskewWindow::picturePoint(double u, double v) const {
  if (!hasArea() || !(u >= 0 && u <= 1 && v >= 0 && v <= 1)) return std::nullopt;
  return Zelta_WindowPoint{left + u * width(), top + v * height()};
}

std::shared_ptr<Zelta_PTZWindow> Zelta_PTZWindow::fromSection(const Zelta_R9ImageWindowInfo& window,
                                                              const std::map<std::string, std::string>& section) {
  auto view = std::make_shared<Zelta_PTZWindow>();
  static_cast<Zelta_R9ImageWindowInfo&>(*view) = window;
  bool any = false;
  any |= readKey(section, "XTO", view->offsetX);
  any |= readKey(section, "YTO", view->offsetY);
  any |= readKey(section, "ZOM", view->zoom);
  any |= readKey(section, "PAX", view->panX);
  any |= readKey(section, "PAY", view->panY);
  return any ? view : nullptr;
}

std::optional<Zelta_WindowPoint> Zelta_PTZWindow::sensorPoint(double x, double y) const {
  if (!windowPoint(x, y)) return std::nullopt;
  const double scale = 100.0 / (zoom > 0 ? zoom : 100);
  return Zelta_WindowPoint{offsetX + panX + (x - left) * scale, offsetY + panY + (y - top) * scale};
}

}  // namespace Zelta
