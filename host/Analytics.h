// Visual settings of video analytics (areas, masks, lines). Declarations only.
#pragma once

#include <cstdint>

#include "Contract.h"
#include "GDRV.h"
#include "Storage.h"

namespace Talvo {
namespace Analytics {

// One visual element value (a rectangle or a polyline point) as the host enumerates it.
class IPointValue : public IContract {
 public:
  virtual double GetX() = 0;
  virtual double GetY() = 0;
};

class IRectangleValue : public IContract {
 public:
  virtual double GetLeft() = 0;
  virtual double GetTop() = 0;
  virtual double GetRight() = 0;
  virtual double GetBottom() = 0;
};

// Current() answers an IRectangleValue (rectangles) or a GDRV::IBasicEnumerator of IPointValue
// (polylines, one enumerator per line).
class IVisualEnumerator : public GDRV::IBasicEnumerator {};

class IVisualAsyncAdjuster : public IContract {
 public:
  // 0 success, 5 unknown element name, 1 failure.
  virtual int32_t SetRectangleArray(const char* element, IVisualEnumerator* rectangles) = 0;
  virtual int32_t SetMask(const char* element, const uint8_t* mask, uint32_t width, uint32_t height) = 0;
  virtual int32_t SetPolylineArray(const char* element, IVisualEnumerator* polylines) = 0;
};

}  // namespace Analytics
}  // namespace Talvo
