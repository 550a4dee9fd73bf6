// Vantrel::MotionDetection: the camera's video motion detector ("onMotion"). It keeps the areas
// the host draws ("window" rectangles, "polyline" polylines) and writes them, in the camera's
// 1280 x 960 motion-window syntax, together with the motion settings when settings are applied.
//
// Threads: the area setters on host threads, applySettings on the device's connection thread;
// each area list has its own mutex and applySettings works on copies.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "BaseDetection.h"

namespace Vantrel {

// The camera's text of the areas: entries separated by "%0A", rectangles first. `reversed`:
// the camera's image is given mirrored in both axes; `activitySensor`: entries carry geometry only.
// Empty polylines are skipped and logged through `logger`.
std::string motionAreaText(const std::vector<Talvo::Utility::Rectangle>& rectangles,
                           const std::vector<Talvo::Utility::Polyline>& polylines, bool reversed, bool activitySensor,
                           const Talvo::LoggerOwner& logger);

class MotionDetection : public BaseDetection {
 public:
  int32_t SetRectangleArray(const char* element, Talvo::Analytics::IVisualEnumerator* rectangles) override;
  int32_t SetPolylineArray(const char* element, Talvo::Analytics::IVisualEnumerator* polylines) override;

 protected:
  std::string eventType() const override { return "ima"; }
  std::string sensorType() const override { return "vm"; }
  std::string sensorParameters() override { return ":vm_list="; }
  void applySettings(const Talvo::Utility::ParamsMap& set, Talvo::Utility::ActionCompletion done) override;

 private:
  friend class BaseDetection;
  MotionDetection(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel, const std::string& detectorId,
                  Device* device);
  // The element's properties, or null with the repository miss logged under `function`.
  const Talvo::GDRV::Properties* elementOrLog(const char* element, const char* function) const;
  // The object-size parameter `name` as "<prefix><value>" ("," written "%2C"); empty when unset.
  std::string objectSize(const std::string& name, const std::string& prefix) const;

  std::mutex rectanglesMutex_;
  std::vector<Talvo::Utility::Rectangle> rectangles_;
  std::mutex polylinesMutex_;
  std::vector<Talvo::Utility::Polyline> polylines_;
  bool activitySensor_ = false;  // connection thread
  const bool reversedArea_;
};

}  // namespace Vantrel
