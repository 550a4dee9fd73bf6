// The base of PTZ channels: every operation of the host's telemetry contract answers
// kTelemetryUnsupported until a camera's channel overrides it, so that a channel implements only
// what its cameras do and the rest never reaches a camera.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Nuvlet/include/Contract.h"
#include "host/GDRV.h"

namespace Talvo {
namespace Utility {

// The telemetry contract's result codes besides 0 and a request's error code.
constexpr int32_t kTelemetryOutOfLimits = 6;
constexpr int32_t kTelemetryUnsupported = 8;

class TelemetryBase : public GDRV::ITelemetry {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return castTo<Path<IContract, GDRV::IDeviceChannel>, Path<GDRV::ITelemetry>, Path<GDRV::IDeviceChannel>,
                  Path<GDRV::ITelemetryAdjuster>>(this, typeName);
  }

  int32_t GetPresetCount() override { return 0; }
  int32_t RelativeMove(int32_t, int32_t, int32_t, int32_t) override { return kTelemetryUnsupported; }
  int32_t RelativeZoom(int32_t, int32_t) override { return kTelemetryUnsupported; }
  int32_t GoPreset(int32_t) override { return kTelemetryUnsupported; }
  int32_t SetPreset(int32_t) override { return kTelemetryUnsupported; }
  int32_t ContinuousMove(int32_t, int32_t) override { return kTelemetryUnsupported; }
  int32_t ContinuousZoom(int32_t) override { return kTelemetryUnsupported; }
  int32_t ContinuousFocus(int32_t) override { return kTelemetryUnsupported; }
  int32_t ContinuousIris(int32_t) override { return kTelemetryUnsupported; }
  int32_t StopMove() override { return kTelemetryUnsupported; }
  int32_t StopZoom() override { return kTelemetryUnsupported; }
  int32_t StopFocus() override { return kTelemetryUnsupported; }
  int32_t StopIris() override { return kTelemetryUnsupported; }
  int32_t AbsoluteMove(double, double, double) override { return kTelemetryUnsupported; }
  int32_t AbsoluteZoom(double, double) override { return kTelemetryUnsupported; }
  int32_t AbsoluteFocus(double) override { return kTelemetryUnsupported; }
  int32_t AbsoluteIris(double) override { return kTelemetryUnsupported; }
  int32_t RelativeFocus(int32_t, int32_t) override { return kTelemetryUnsupported; }
  int32_t RelativeIris(int32_t, int32_t) override { return kTelemetryUnsupported; }
  int32_t AutoFocus(bool) override { return kTelemetryUnsupported; }
  int32_t AutoIris(bool) override { return kTelemetryUnsupported; }
  int32_t GoHome() override { return kTelemetryUnsupported; }
  int32_t SetHome() override { return kTelemetryUnsupported; }
  int32_t RemovePreset(int32_t) override { return kTelemetryUnsupported; }
  int32_t SetPresetName(int32_t, const char*) override { return kTelemetryUnsupported; }
  int32_t GetPresetName(int32_t, char*, size_t) override { return kTelemetryUnsupported; }
  int32_t StartTour(int32_t) override { return kTelemetryUnsupported; }
  int32_t StopTour() override { return kTelemetryUnsupported; }
  int32_t Wiper(bool) override { return kTelemetryUnsupported; }
  int32_t Light(bool) override { return kTelemetryUnsupported; }
  int32_t AuxCommand(int32_t, bool) override { return kTelemetryUnsupported; }

 protected:
  ~TelemetryBase() = default;  // ended through Destroy()
};

}  // namespace Utility
}  // namespace Talvo
