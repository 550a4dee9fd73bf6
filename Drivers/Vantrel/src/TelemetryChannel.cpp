#include "TelemetryChannel.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "Device.h"

namespace Vantrel {

namespace {

using Talvo::Utility::kTelemetryOutOfLimits;
using Talvo::Utility::kTelemetryUnsupported;

uint32_t limit(const Talvo::GDRV::Properties& parameters, const char* name) {
  return static_cast<uint32_t>(Talvo::GDRV::intProperty(parameters, name));
}

// |value| within `limit`, without overflowing on the most negative value.
bool withinStep(int32_t value, uint32_t limit) { return std::llabs(static_cast<long long>(value)) <= limit; }
bool withinSpeed(int32_t speed, uint32_t limit) { return speed <= static_cast<long long>(limit); }

// The camera's coordinates are integers; a host value that is no finite number, or too large
// for one, has no place on the picture (and its conversion would be undefined).
bool truncated(double value, int& result) {
  if (!std::isfinite(value) || std::fabs(value) >= static_cast<double>(std::numeric_limits<int>::max())) return false;
  result = static_cast<int>(value);
  return true;
}

}  // namespace

TelemetryChannel::TelemetryChannel(uint32_t channel, Device* device) : channel_(channel), device_(device) {
  const auto& telemetries = device->modelEntry().telemetries;
  if (channel >= telemetries.size()) return;
  const Talvo::GDRV::Properties& parameters = telemetries[channel].parameters;
  panSpeed_ = limit(parameters, "panSpeed");
  tiltSpeed_ = limit(parameters, "tiltSpeed");
  panStep_ = limit(parameters, "panStep");
  tiltStep_ = limit(parameters, "tiltStep");
  zoomSpeed_ = limit(parameters, "zoomSpeed");
  zoomStep_ = limit(parameters, "zoomStep");
  presetCount_ = limit(parameters, "presetCount");
  angleMove_ = Talvo::GDRV::intProperty(parameters, "supportsAngleMove") == 1;
  areaZoom_ = Talvo::GDRV::intProperty(parameters, "supportsAreaZoom") != 0;
  pointMove_ = Talvo::GDRV::intProperty(parameters, "supportsPointMove") != 0;
}

void* TelemetryChannel::QueryContract(const char* typeName) {
  using Talvo::Utility::Path;
  if (void* found = Talvo::Utility::castTo<Path<Talvo::GDRV::ITelemetryPointClick>>(this, typeName)) return found;
  return TelemetryBase::QueryContract(typeName);
}

int32_t TelemetryChannel::RelativeMove(int32_t pan, int32_t panSpeed, int32_t tilt, int32_t tiltSpeed) {
  if (!withinSpeed(panSpeed, panSpeed_) || !withinSpeed(tiltSpeed, tiltSpeed_) || !withinStep(pan, panStep_) ||
      !withinStep(tilt, tiltStep_))
    return kTelemetryOutOfLimits;
  // The speeds only bound the call: the camera takes none.
  return send("/control/click.cgi?moverel&" + std::string(angleMove_ ? "h=" : "x=") + std::to_string(pan) + "&" +
              (angleMove_ ? "v=" : "y=") + std::to_string(tilt));
}

int32_t TelemetryChannel::RelativeZoom(int32_t zoom, int32_t zoomSpeed) {
  if (!withinSpeed(zoomSpeed, zoomSpeed_) || !withinStep(zoom, zoomStep_)) return kTelemetryOutOfLimits;
  return send("/control/click.cgi?zoomrel=" + std::to_string(zoom));
}

bool TelemetryChannel::presetInRange(int32_t index) const {
  return index >= 0 && static_cast<uint32_t>(index) < presetCount_;
}

int32_t TelemetryChannel::GoPreset(int32_t index) {
  if (!presetInRange(index)) return kTelemetryOutOfLimits;
  return send("/control/click.cgi?loadview=" + std::to_string(index));
}

int32_t TelemetryChannel::SetPreset(int32_t index) {
  if (!presetInRange(index)) return kTelemetryOutOfLimits;
  return send("/control/click.cgi?setview=" + std::to_string(index));
}

int32_t TelemetryChannel::PointMove(const Talvo::GDRV::Point& point) {
  if (!pointMove_) return kTelemetryUnsupported;
  int x = 0, y = 0;
  if (!truncated(500.0 * point.x, x) || !truncated(250.0 * point.y, y)) return kTelemetryOutOfLimits;
  return send("/control/click.cgi?x=" + std::to_string(x) + "&y=" + std::to_string(y));
}

// The camera's picture is 1280 x 960 with the vertical axis pointing up; the host's rectangle
// is relative (0..1) with the vertical axis pointing down.
int32_t TelemetryChannel::AreaZoom(const Talvo::GDRV::Rect& area) {
  if (!areaZoom_) return kTelemetryUnsupported;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  if (!truncated(1279.0 * area.left, x1) || !truncated(959.0 - 959.0 * area.top - 959.0 * area.height, y1) ||
      !truncated(1279.0 * area.width + x1, x2) || !truncated(959.0 - 959.0 * area.top, y2))
    return kTelemetryOutOfLimits;
  return send("/control/click.cgi?rect=" + std::to_string(x1) + "," + std::to_string(y1) + "," + std::to_string(x2) +
              "," + std::to_string(y2));
}

int32_t TelemetryChannel::send(const std::string& path) const { return device_->getFromCamera(path, nullptr); }

}  // namespace Vantrel
