#include "SituationDetection.h"

#include <boost/any.hpp>

#include "ChannelChoice.h"
#include "Device.h"
#include "host/Nuvlet/ErrorCodes.h"

namespace Vantrel {

namespace {

// The detector's default name: the repository's "detectorName" text property, else empty.
std::string repositoryName(const Talvo::GDRV::DriverInfo& info, const std::string& detectorId) {
  const auto found = info.detectors.find(detectorId);
  if (found == info.detectors.end()) return std::string();
  const auto* name = dynamic_cast<const Talvo::GDRV::PropertyString*>(
      Talvo::GDRV::findProperty(found->second.properties, "detectorName"));
  return name ? name->value : std::string();
}

// The integer setting `name` of the set, if there; boost::bad_any_cast for another type.
bool intSetting(const Talvo::Utility::ParamsMap& set, const char* name, int& value) {
  const auto found = set.find(name);
  if (found == set.end()) return false;
  value = boost::any_cast<int>(found->second);
  return true;
}

}  // namespace

SituationDetection::SituationDetection(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel,
                                       const std::string& detectorId, const std::string& eventName, Device* device)
    : BaseDetection(handler, channel, detectorId, eventName, repositoryName(device->driverInfo(), detectorId), device),
      infrared_(detectorId == "ir_detection" || detectionTypeOf(device->driverInfo(), detectorId) == "ir_detection") {}

void SituationDetection::applySettings(const Talvo::Utility::ParamsMap& set, Talvo::Utility::ActionCompletion done) {
  std::string uri;
  try {
    int value = 0;
    if (infrared_ && intSetting(set, "threshold", value))
      uri = "/control/control?section=event_env&set_profile=env:" + detectorName() + "&ir_lvl=" + std::to_string(value);
    if (!infrared_ && intSetting(set, "tapDebounce", value))
      uri = "/control/control?set&section=event_env&tap_debounce=" + std::to_string(value);
  } catch (const boost::bad_any_cast& e) {
    NLOG(log(), 3, " Error: " << e.what());
    done(4);
    return;
  }
  if (uri.empty()) {
    done(0);
    return;
  }
  try {
    Talvo::http::asyncGetEx(
        device().connectionInfo(), uri, device().ioContext(), 0,
        [done](const boost::system::error_code& error, const Talvo::http::Body&,
               const Talvo::http::HttpResponse&) mutable {
          // Only the transport counts: the camera's status is not examined.
          const bool transport = error && error.category() != Talvo::http::http_category();
          done(transport ? Talvo::Utility::translateSystemError(error) : 0);
        },
        request_, log().logger());
  } catch (const std::exception& e) {
    NLOG(log(), 3, " Error: " << e.what());
    done(10);
  }
}

}  // namespace Vantrel
