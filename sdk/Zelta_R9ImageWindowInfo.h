// One window of a picture's text header ("WIN=lt=<x>,<y> rb=<x>,<y> flags=<text>"): a rectangle
// in picture coordinates and its flags text.
#pragma once

#include <memory>
#include <string>

namespace Zelta {

class Zelta_R9ImageWindowInfo {
 public:
  virtual ~Zelta_R9ImageWindowInfo() = default;
  // Reads the parts that are present; missing or malformed numbers stay 0.
  static std::shared_ptr<Zelta_R9ImageWindowInfo> parse(const std::string& value);

  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  std::string flags;
};

}  // namespace Zelta
