// The areas `detect` hands a detector: --window rectangles and --polyline lines, in relative
// coordinates (0..1, origin top left), as the host's visual enumerators.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/Analytics.h"

namespace qrmhost {

struct Window {
  double x, y, width, height;
};
using Line = std::vector<std::pair<double, double>>;

// "X,Y,W,H" and "X1,Y1;X2,Y2;...": numbers in 0..1 (a window must fit in the picture). Throw
// ExitError (status 2) when malformed.
Window parseWindow(const std::string& text);
Line parsePolyline(const std::string& text);

// An enumerator over owned items; Current() is valid until the enumerator goes. Main thread.
class ItemList : public Talvo::Analytics::IVisualEnumerator {
 public:
  static ItemList windows(const std::vector<Window>& windows);
  static ItemList lines(const std::vector<Line>& lines);
  ItemList(ItemList&&) = default;

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Reset() override { position_ = 0; }
  bool MoveNext() override;
  Talvo::IContract* Current() override;

 private:
  ItemList() = default;
  std::vector<std::unique_ptr<Talvo::IContract>> items_;
  size_t position_ = 0;  // 1-based after MoveNext
};

}  // namespace qrmhost
