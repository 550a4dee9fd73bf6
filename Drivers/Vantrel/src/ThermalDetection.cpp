#include "ThermalDetection.h"

#include <algorithm>
#include <locale>
#include <sstream>

#include <boost/any.hpp>

#include "Device.h"
#include "ResponseCheck.h"
#include "host/Nuvlet/ErrorCodes.h"

namespace Vantrel {

namespace {

const int32_t kEmptyAnswer = 1;

enum class Kind { Text, Number1, Millipercent, Integer, Flag, Fixed };

struct Parameter {
  const char* setting;
  const char* key;
  Kind kind;
  boost::any fallback;
};

// The camera's "ara_" parameters in the order the camera reads them.
const std::vector<Parameter>& parameterTable() {
  static const std::vector<Parameter> table = {
      {"measurementMode", "ara_measurement_mode=", Kind::Text, std::string("absolute")},
      {"triggerMode", "ara_mode=", Kind::Text, std::string("pixel")},
      {"millipercent", "ara_millipercent=", Kind::Millipercent, 0.1},
      {"alarmType", "ara_type=", Kind::Text, std::string("level")},
      {"referenceArea", "ara_reference_area=", Kind::Text, std::string()},
      {"referenceTolerance", "ara_reference_tolerance=", Kind::Integer, 0},
      {"unit", "ara_unit=", Kind::Text, std::string("celcius")},
      {"level", "ara_lvl=", Kind::Number1, 37.5},
      {"levelCmp", "ara_lvl_cmp=", Kind::Text, std::string("higher")},
      {"rangeMin", "ara_range_min=", Kind::Number1, 30.0},
      {"rangeMax", "ara_range_max=", Kind::Number1, 50.0},
      {"rangeCmp", "ara_range_cmp=", Kind::Text, std::string("inside")},
      {"actType", "ara_act=every", Kind::Fixed, boost::any()},
      {"showArea", "ara_show_area=", Kind::Text, std::string("off")},
      {"showMeter", "ara_show_meter=", Kind::Flag, false},
      {"showTemperature", "ara_show_temperature=", Kind::Text, std::string("off")},
      {"showCoordinates", "ara_show_coordinates=", Kind::Text, std::string("off")},
      {"showCrossShair", "ara_show_crosshair=", Kind::Text, std::string("off")},
      {"showName", "ara_show_name=", Kind::Text, std::string("off")},
  };
  return table;
}

// A number setting may come as an int or a double.
double numberOf(const boost::any& value) {
  if (const int* i = boost::any_cast<int>(&value)) return *i;
  return boost::any_cast<double>(value);
}

long long clamp(double value, double limit) { return static_cast<long long>(std::min(value, limit)); }

}  // namespace

std::string decimalText(double value, int decimals) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text.setf(std::ios::fixed);
  text.precision(decimals);
  text << value;
  return text.str();
}

std::string thermalAreaText(const Talvo::Utility::Polyline* polyline, int scale) {
  std::string text = "ara_area=1,poly%3D";
  if (!polyline) return text;
  for (size_t i = 0; i < polyline->points.size(); ++i) {
    const auto& point = polyline->points[i];
    text += (i ? "/" : "") + std::to_string(clamp(point.first * 1280 * scale, 1280)) + "x" +
            std::to_string(clamp(960 - point.second * 960, 960));
  }
  return text;
}

ThermalDetection::ThermalDetection(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel,
                                   const std::string& detectorId, Device* device)
    : BaseDetection(handler, channel, detectorId, "onThermal", "", device) {}

void ThermalDetection::prepareRun(std::function<void()> then) {
  auto self = std::static_pointer_cast<ThermalDetection>(shared_from_this());
  device().queryBothLensDisplayed(lensRequest_, [self, then](bool both) {
    self->lensRequest_.reset();
    self->lensScale_.store(both ? 2 : 1);
    then();
  });
}

void ThermalDetection::cancelPreparation() {
  if (lensRequest_) lensRequest_->cancel();
}

int32_t ThermalDetection::SetPolylineArray(const char* element, Talvo::Analytics::IVisualEnumerator* polylines) {
  if (!element || std::string(element) != "polyline") return 5;
  static const Talvo::GDRV::Properties kNone;
  const auto* properties = elementProperties(element);
  std::vector<Talvo::Utility::Polyline> list;
  Talvo::Utility::createPolylinesArray(polylines, properties ? *properties : kNone, list);
  NLOG(log(), 0, " Set polylines: " << Talvo::Utility::describe(list));
  std::lock_guard<std::mutex> lock(polylinesMutex_);
  polylines_ = std::move(list);
  return 0;
}

std::string ThermalDetection::areaText() {
  std::lock_guard<std::mutex> lock(polylinesMutex_);
  return thermalAreaText(polylines_.empty() ? nullptr : &polylines_.front(), lensScale_.load());
}

std::string ThermalDetection::parameterText(size_t row) const {
  const Parameter& p = parameterTable().at(row);
  if (p.kind == Kind::Fixed) return p.key;
  boost::any value = parameters().getPersistentParam(p.setting);
  if (value.empty()) value = p.fallback;
  switch (p.kind) {
    case Kind::Text:
      return p.key + boost::any_cast<std::string>(value);
    case Kind::Number1:
      return p.key + decimalText(numberOf(value), 1);
    case Kind::Millipercent:
      return p.key + decimalText(std::max(numberOf(value), 0.001), 3);
    case Kind::Integer:
      return p.key + std::to_string(boost::any_cast<int>(value));
    case Kind::Flag:
      return p.key + std::string(boost::any_cast<bool>(value) ? "1" : "0");
    case Kind::Fixed:
      break;
  }
  return p.key;
}

std::string ThermalDetection::sensorParameters() {
  std::string text = ":" + areaText();
  try {
    for (size_t row = 0; row < parameterTable().size(); ++row) text += ":" + parameterText(row);
  } catch (const boost::bad_any_cast& e) {
    NLOG(log(), 3, " Bad param type, error:" << e.what());
  }
  return text;
}

void ThermalDetection::applySettings(const Talvo::Utility::ParamsMap& set, Talvo::Utility::ActionCompletion done) {
  std::string uri = "/control/control?section=event_env&set_profile=env:" + detectorName() + "&" + areaText();
  try {
    const auto name = set.find("detectorName");
    if (name != set.end()) uri += "&_profilename=" + boost::any_cast<std::string>(name->second);
    for (size_t row = 0; row < parameterTable().size(); ++row)
      if (set.count(parameterTable()[row].setting)) uri += "&" + parameterText(row);
  } catch (const boost::bad_any_cast& e) {
    NLOG(log(), 3, " Bad param type, error:" << e.what());
    done(7);
    return;
  }
  NLOG(log(), 0, " Send parameters: " << uri);
  const Talvo::LoggerOwner logger = log();
  try {
    Talvo::http::asyncGetEx(
        device().connectionInfo(), uri, device().ioContext(), 0,
        [done, logger](const boost::system::error_code& error, const Talvo::http::Body& body,
                       const Talvo::http::HttpResponse& response) mutable {
          if (isDeviceResponseOk(error, body, response, logger, "sending settings"))
            done(0);
          else if (error)
            done(Talvo::Utility::translateSystemError(error));
          else if (!response.isSuccess())
            done(Talvo::http::translateResponseError(response));
          else
            done(kEmptyAnswer);  // a good status without a body is no answer either
        },
        request_, logger.logger());
  } catch (const std::exception& e) {
    NLOG(logger, 3, " Bad param type, error:" << e.what());
    done(10);
  }
}

}  // namespace Vantrel
