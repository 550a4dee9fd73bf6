// Visual settings of video analytics (areas, masks, lines). Declarations only.
#pragma once

#include <cstdint>

#include "Contract.h"
#include "GDRV.h"
#include "MFF.h"
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

// A matrix of floats (a thermal camera's temperatures in °C) in row order as a multimedia
// buffer: GetBuffer holds GetWidth() × GetHeight() floats, GetTimeStamp() is the frame's time in
// ms. Destroy does nothing: the matrix belongs to the event that carries it.
class IFloatMatrix : public MFF::IMultimediaBuffer {
 public:
  virtual uint32_t GetWidth() = 0;
  virtual uint32_t GetHeight() = 0;
  virtual const float* GetValues() = 0;
};

// The named values of one periodical event: numbers or multimedia buffers (an IFloatMatrix).
// Valid during the call that hands it over; a host that keeps a buffer copies it.
class IEventPropertySet : public IContract {
 public:
  virtual uint32_t GetCount() = 0;
  virtual const char* GetName(uint32_t index) = 0;
  // False when property `index` holds no number.
  virtual bool GetNumber(uint32_t index, double* value) = 0;
  // Null when property `index` holds no buffer.
  virtual MFF::IMultimediaBuffer* GetBuffer(uint32_t index) = 0;
};

// A detector handler that answers this cast as well receives periodical events with their
// properties here. Other handlers receive IVideoAnalyticsHandler::Event with EVENT_PERIODICAL,
// then Data with the properties as JSON (numbers as numbers, a matrix as its width and height).
class IPeriodicalEventHandler : public IContract {
 public:
  virtual void PeriodicalEvent(IContract* detector, const char* name, uint64_t time, const char* detectorId,
                               IEventPropertySet* properties) = 0;
};

}  // namespace Analytics
}  // namespace Talvo
