// Vantrel::ThermalDetection: the camera's thermal alarm ("onThermal"): a temperature above or
// below a level, or inside or outside a range, in one polyline area of the thermal image. Its
// event profile (section "event_env", sensor "ara") carries every "ara_" parameter.
//
// Threads: SetPolylineArray and Start on host threads, the rest on the device's thread. Each run
// first asks the camera whether both lenses are shown (the area's x scale follows from it).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "BaseDetection.h"

namespace Vantrel {

// "ara_area=1,poly%3D" and the points of `polyline` (none: nothing after "%3D"), each X "x" Y
// with X = x*1280*scale, Y = 960 - y*960, truncated and clamped to 1280 and 960.
std::string thermalAreaText(const Talvo::Utility::Polyline* polyline, int scale);
// `value` with `decimals` decimals and "." as separator.
std::string decimalText(double value, int decimals);

class ThermalDetection : public BaseDetection {
 public:
  int32_t SetPolylineArray(const char* element, Talvo::Analytics::IVisualEnumerator* polylines) override;

 protected:
  std::string eventType() const override { return "env"; }
  std::string sensorType() const override { return "ara"; }
  std::string sensorParameters() override;
  void applySettings(const Talvo::Utility::ParamsMap& set, Talvo::Utility::ActionCompletion done) override;
  void prepareRun(std::function<void()> then) override;
  void cancelPreparation() override;

 private:
  friend class BaseDetection;
  ThermalDetection(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel, const std::string& detectorId,
                   Device* device);
  std::string areaText();
  // The parameter text of table row `row` from the container; boost::bad_any_cast for a value
  // of the wrong type.
  std::string parameterText(size_t row) const;

  std::mutex polylinesMutex_;
  std::vector<Talvo::Utility::Polyline> polylines_;
  std::atomic<int> lensScale_{1};
  Talvo::http::AsyncOperationPtr request_;      // connection thread
  Talvo::http::AsyncOperationPtr lensRequest_;  // connection thread
};

}  // namespace Vantrel
