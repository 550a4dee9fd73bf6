// One window of a picture's text header ("WIN=lt=<x>,<y> rb=<x>,<y> flags=<text>"): a rectangle
// in picture coordinates and its flags text, and the two kinds of window the camera describes
// that way: a deskewed (dewarped) view of part of the sensor, and the view of a PTZ section,
// whose position on the sensor the section's keys "XTO", "YTO", "ZOM", "PAX" and "PAY" give.
// Coordinates are read from camera text: every number is clamped to +-kMaxCoordinate, so that
// no arithmetic on them overflows, and a window without area maps nothing.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace Zelta {

struct Zelta_WindowPoint {
  double x = 0;
  double y = 0;
  bool operator==(const Zelta_WindowPoint& o) const { return x == o.x && y == o.y; }
};

class Zelta_R9ImageWindowInfo {
 public:
  static constexpr int kMaxCoordinate = 1 << 20;

  virtual ~Zelta_R9ImageWindowInfo() = default;
  // Reads the parts that are present; missing or malformed numbers stay 0. A window whose flags
  // name "deskew" is a Zelta_DeskewWindow.
  static std::shared_ptr<Zelta_R9ImageWindowInfo> parse(const std::string& value);

  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool hasArea() const { return width() > 0 && height() > 0; }
  // The point at `x`, `y` of the picture as fractions (0..1) of this window; none outside it or
  // when the window has no area.
  std::optional<Zelta_WindowPoint> windowPoint(double x, double y) const;

  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  std::string flags;
};

// A deskewed view: the camera straightened part of a fisheye sensor into this window. A point of
// the window maps back to the picture rectangle it shows.
class Zelta_DeskewWindow : public Zelta_R9ImageWindowInfo {
 public:
  // The picture point at fractions `u`, `v` (0..1) of the window; none outside 0..1 or without area.
  std::optional<Zelta_WindowPoint> picturePoint(double u, double v) const;
};

// The view of a PTZ section: a window of the picture that shows the sensor from (XTO, YTO) plus the
// pan (PAX, PAY), magnified by ZOM percent (100: one sensor pixel per picture pixel).
class Zelta_PTZWindow : public Zelta_R9ImageWindowInfo {
 public:
  // A window of `section`'s PTZ view; none when the section has none of the PTZ keys.
  static std::shared_ptr<Zelta_PTZWindow> fromSection(const Zelta_R9ImageWindowInfo& window,
                                                      const std::map<std::string, std::string>& section);

  // The sensor point that picture point `x`, `y` shows; none outside the window. A zoom of 0 or
  // less (no magnification given) counts as 100.
  std::optional<Zelta_WindowPoint> sensorPoint(double x, double y) const;

  int offsetX = 0;   // XTO
  int offsetY = 0;   // YTO
  int zoom = 100;    // ZOM, percent
  int panX = 0;      // PAX
  int panY = 0;      // PAY
};

}  // namespace Zelta
