#include "MotionDetection.h"

#include <boost/algorithm/string/replace.hpp>
#include <boost/any.hpp>

#include "Device.h"

namespace Vantrel {

using Talvo::Utility::ParamsMap;

namespace {

constexpr double kWidth = 1280;
constexpr double kHeight = 960;

const Talvo::GDRV::PropertyBase* property(const Talvo::GDRV::Properties& properties, const char* name) {
  return Talvo::GDRV::findProperty(properties, name);
}

// An int or bool property as an integer; none for other types.
bool integerProperty(const Talvo::GDRV::Properties& properties, const char* name, int& value) {
  const auto* found = property(properties, name);
  if (const auto* i = dynamic_cast<const Talvo::GDRV::PropertyInt*>(found)) {
    value = i->value;
    return true;
  }
  if (const auto* b = dynamic_cast<const Talvo::GDRV::PropertyBool*>(found)) {
    value = b->value ? 1 : 0;
    return true;
  }
  return false;
}

// "!" for a control area, then the image sensor number.
std::string entryStart(const Talvo::GDRV::Properties& properties) {
  std::string text;
  int value = 0;
  if (integerProperty(properties, "controlArea", value) && value != 0) text += "!";
  if (integerProperty(properties, "imageSensor", value)) text += std::to_string(value);
  return text;
}

std::string entryEnd(const Talvo::GDRV::Properties& properties, size_t number, bool activitySensor) {
  if (activitySensor) return std::string();
  std::string text;
  int value = 0;
  if (integerProperty(properties, "minimalArea", value)) text += ",a=" + std::to_string(value);
  if (integerProperty(properties, "maximumArea", value)) text += ",am=" + std::to_string(value);
  if (integerProperty(properties, "sensitivity", value)) text += ",s=" + std::to_string(value);
  return text + ",col=green,id=" + std::to_string(number);
}

std::string integer(double value) { return std::to_string(static_cast<long long>(value)); }

std::string rectangleText(const Talvo::Utility::Rectangle& r, bool reversed) {
  const double x = reversed ? kWidth - (r.x + r.width) * kWidth : r.x * kWidth;
  const double y = reversed ? r.y * kHeight : kHeight - (r.y + r.height) * kHeight;
  return "," + integer(x) + "," + integer(y) + "," + integer(r.width * kWidth) + "," + integer(r.height * kHeight);
}

std::string polylineText(const Talvo::Utility::Polyline& line, bool reversed) {
  std::string text = ",poly=";
  for (size_t i = 0; i < line.points.size(); ++i) {
    const double x = reversed ? kWidth - line.points[i].first * kWidth : line.points[i].first * kWidth;
    const double y = reversed ? line.points[i].second * kHeight : kHeight - line.points[i].second * kHeight;
    text += (i ? "/" : "") + integer(x) + "x" + integer(y);
  }
  return text;
}

void appendEntry(std::string& area, const std::string& entry) {
  if (!area.empty()) area += "%0A";
  area += entry;
}

// A setting of the set, when present, as T; boost::bad_any_cast for another type.
template <class T>
bool setting(const ParamsMap& set, const char* name, T& value) {
  const auto found = set.find(name);
  if (found == set.end()) return false;
  value = boost::any_cast<T>(found->second);
  return true;
}

const char* flag(bool value) { return value ? "1" : "0"; }

}  // namespace

std::string motionAreaText(const std::vector<Talvo::Utility::Rectangle>& rectangles,
                           const std::vector<Talvo::Utility::Polyline>& polylines, bool reversed, bool activitySensor,
                           const Talvo::LoggerOwner& logger) {
  std::string area;
  for (size_t i = 0; i < rectangles.size(); ++i) {
    const auto& r = rectangles[i];
    appendEntry(area,
                entryStart(r.properties) + rectangleText(r, reversed) + entryEnd(r.properties, i + 1, activitySensor));
  }
  for (size_t i = 0; i < polylines.size(); ++i) {
    const auto& line = polylines[i];
    if (line.points.empty()) {
      NLOG(logger, 3, " polyline " << i << " is empty");
      continue;
    }
    appendEntry(area, entryStart(line.properties) + polylineText(line, reversed) +
                          entryEnd(line.properties, rectangles.size() + 1 + i, activitySensor));
  }
  return area;
}

MotionDetection::MotionDetection(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel,
                                 const std::string& detectorId, Device* device)
    : BaseDetection(handler, channel, detectorId, "onMotion", "orbexMD", device), reversedArea_([this] {
        int value = 0;
        return description() && integerProperty(description()->properties, "reversedArea", value) && value == 1;
      }()) {}

const Talvo::GDRV::Properties* MotionDetection::elementOrLog(const char* element, const char* function) const {
  const Talvo::LoggerOwner logger = log();
  if (!description()) {
    if (logger.isLevelEnabled(3))
      logger.log(3, __FILE__, __LINE__, function, " detector '" + detectorId() + "' not found in repository.");
    return nullptr;
  }
  const auto* properties = elementProperties(element);
  if (!properties && logger.isLevelEnabled(3))
    logger.log(3, __FILE__, __LINE__, function,
               std::string(" visual element '") + element + "' not found in repository.");
  return properties;
}

int32_t MotionDetection::SetRectangleArray(const char* element, Talvo::Analytics::IVisualEnumerator* rectangles) {
  if (!element || std::string(element) != "window") return 5;
  const auto* properties = elementOrLog(element, "SetRectangleArray");
  if (!properties) return 1;
  std::vector<Talvo::Utility::Rectangle> list;
  Talvo::Utility::createRectArray(rectangles, *properties, list);
  std::lock_guard<std::mutex> lock(rectanglesMutex_);
  rectangles_ = std::move(list);
  return 0;
}

int32_t MotionDetection::SetPolylineArray(const char* element, Talvo::Analytics::IVisualEnumerator* polylines) {
  if (!element || std::string(element) != "polyline") return 5;
  const auto* properties = elementOrLog(element, "SetPolylineArray");
  if (!properties) return 1;
  std::vector<Talvo::Utility::Polyline> list;
  Talvo::Utility::createPolylinesArray(polylines, *properties, list);
  std::lock_guard<std::mutex> lock(polylinesMutex_);
  polylines_ = std::move(list);
  return 0;
}

std::string MotionDetection::objectSize(const std::string& name, const std::string& prefix) const {
  const boost::any value = parameters().getPersistentParam(name);
  if (value.empty()) return std::string();
  return prefix + boost::replace_all_copy(boost::any_cast<std::string>(value), ",", "%2C");
}

void MotionDetection::applySettings(const ParamsMap& set, Talvo::Utility::ActionCompletion done) {
  std::string profile = "/control/control?section=event_ima&set_profile=ima:" + detectorName();
  std::string motion =
      "/control/control?set&section=event_ima&motionwinid=1&motionreftime=0&motionnightoff=0"
      "&ima_as_show_directions=1";
  bool profileChanged = false;
  try {
    std::string sensor;
    if (setting(set, "eventSensorType", sensor)) {
      activitySensor_ = sensor == "as";
      profile += "&ima_sens=" + sensor;
      profileChanged = true;
    }
    std::vector<Talvo::Utility::Rectangle> rectangles;
    std::vector<Talvo::Utility::Polyline> polylines;
    {
      std::lock_guard<std::mutex> lock(rectanglesMutex_);
      rectangles = rectangles_;
    }
    {
      std::lock_guard<std::mutex> lock(polylinesMutex_);
      polylines = polylines_;
    }
    const std::string area = motionAreaText(rectangles, polylines, reversedArea_, activitySensor_, log());
    if (activitySensor_ && !area.empty()) {
      profile += "&activity_area=" + area;
      profileChanged = true;
    }
    int level = 0;
    if (setting(set, "activityLevel", level)) {
      profile += "&activity_level=" + std::to_string(level);
      profileChanged = true;
    }
    std::string region;
    if (setting(set, "mappingFrameworkRegion", region)) motion += "&motionwintype=" + region;
    bool value = false;
    if (setting(set, "dualLensAnalysis", value)) motion += std::string("&motionduallens=") + flag(value);
    if (setting(set, "detectFastMotion", value)) motion += std::string("&ima_as_fast_motion_stabilizer=") + flag(value);
    const bool v2 = Talvo::Utility::anyOr<bool>(parameters().getPersistentParam("ZlActivitySensorV2"), false);
    const bool perspective =
        Talvo::Utility::anyOr<bool>(parameters().getPersistentParam("perspectiveCompensation"), false);
    if (set.count("ZlActivitySensorV2")) motion += std::string("&ima_as_use_v2=") + flag(v2);
    if (set.count("perspectiveCompensation")) motion += std::string("&ima_as_use_perspective=") + flag(perspective);
    if (v2 && !perspective) motion += objectSize("minimumObjectSize", "&ima_as_min_obj_size=");
    if (v2 && perspective)
      motion +=
          objectSize("nearObjectSize", "&ima_as_near_obj_size=") + objectSize("farObjectSize", "&ima_as_far_obj_size=");
    motion += "&motion_area=" + (activitySensor_ ? std::string() : area);
  } catch (const boost::bad_any_cast& e) {
    NLOG(log(), 3, " Bad param type, error:" << e.what());
    done(7);
    return;
  }
  const auto batch = makeBatch();
  if (!batch) {
    done(10);
    return;
  }
  if (profileChanged) batch->addGetRequest(profile, 0, nullptr);
  batch->addGetRequest(motion, 0, nullptr);
  batch->start(
      [done](const boost::system::error_code& error) mutable { done(Talvo::Utility::translateSystemError(error)); });
}

}  // namespace Vantrel
