// Periodical detector events with properties: the float matrix a thermal detector hands over and
// the raiser that delivers one event with its named values to the host's detector handler.
// Declarations only; implemented in libNuvlet.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../Analytics.h"
#include "../GDRV.h"

namespace Talvo {
namespace Utility {

// Width × height floats in row order with the time of their frame. Immutable after create.
// (FloatMatrixPool makes matrices whose storage serves again once they are released.)
class FloatMatrix : public Analytics::IFloatMatrix {
 public:
  // Throws std::invalid_argument when `values` does not hold width × height floats.
  static std::shared_ptr<FloatMatrix> create(uint64_t timeMs, std::vector<float> values, uint32_t width,
                                             uint32_t height);

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Destroy() override {}
  uint8_t* GetBuffer() override { return reinterpret_cast<uint8_t*>(values_.data()); }
  size_t GetSize() override { return values_.size() * sizeof(float); }
  void SetTimeStamp(uint64_t) override {}
  uint64_t GetTimeStamp() override { return timeMs_; }
  uint32_t GetWidth() override { return width_; }
  uint32_t GetHeight() override { return height_; }
  const float* GetValues() override { return values_.data(); }

  uint64_t timeMs() const { return timeMs_; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  const std::vector<float>& values() const { return values_; }

 private:
  friend class FloatMatrixPool;
  FloatMatrix(uint64_t timeMs, std::vector<float> values, uint32_t width, uint32_t height)
      : timeMs_(timeMs), values_(std::move(values)), width_(width), height_(height) {}
  // Throws std::invalid_argument unless count is width × height.
  static void checkSize(size_t count, uint32_t width, uint32_t height);
  uint64_t timeMs_;
  std::vector<float> values_;
  uint32_t width_;
  uint32_t height_;
};
using FloatMatrixPtr = std::shared_ptr<FloatMatrix>;

namespace Detector {

// One periodical event being put together: set its properties, then let the raiser go; the
// last release delivers the event to the handler, on the releasing thread (no lock of the
// raiser is held then). A handler answering Analytics::IPeriodicalEventHandler gets the
// properties; any other gets Event(EVENT_PERIODICAL) and Data with the properties as JSON.
class EventRaiser {
 public:
  EventRaiser(IContract* detector, GDRV::IVideoAnalyticsHandler* handler, std::string name, uint64_t timeMs,
              std::string detectorId);
  ~EventRaiser();
  EventRaiser(const EventRaiser&) = delete;
  EventRaiser& operator=(const EventRaiser&) = delete;

  // A property of the same name is replaced.
  void set(const std::string& name, double value);
  void set(const std::string& name, FloatMatrixPtr matrix);

  struct Property {
    std::string name;
    double number = 0;
    FloatMatrixPtr matrix;  // null: a number
  };

 private:
  void raise();
  Property& slot(const std::string& name);

  IContract* detector_;
  GDRV::IVideoAnalyticsHandler* handler_;
  std::string name_;
  uint64_t timeMs_;
  std::string detectorId_;
  std::vector<Property> properties_;
};
using EventRaiserPtr = std::shared_ptr<EventRaiser>;

// {"value":35.5} / {"TemperatureMatrix":{"width":W,"height":H}}: the properties as the Data
// call of a handler without IPeriodicalEventHandler receives them.
std::string propertiesJson(const std::vector<EventRaiser::Property>& properties);

}  // namespace Detector
}  // namespace Utility
}  // namespace Talvo
