// PTZ of cameras driven through "/control/click.cgi": relative moves and zoom, presets, click to
// centre and zoom to an area. Each operation is one blocking GET on the calling host thread; the
// camera's answer counts only as success or failure. Limits and capabilities come from the
// model's telemetry entry and are fixed at construction, so the channel has no mutable state and
// any thread may call it.
#pragma once

#include <cstdint>
#include <string>

#include "Nuvlet/include/TelemetryBase.h"
#include "host/GDRV.h"

namespace Vantrel {

class Device;

class TelemetryChannel : public Talvo::Utility::TelemetryBase, public Talvo::GDRV::ITelemetryPointClick {
 public:
  // `device` outlives the channel (the host destroys channels before their device).
  TelemetryChannel(uint32_t channel, Device* device);

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Destroy() override { delete this; }
  uint32_t GetChannel() override { return channel_; }

  int32_t GetPresetCount() override { return static_cast<int32_t>(presetCount_); }
  int32_t RelativeMove(int32_t pan, int32_t panSpeed, int32_t tilt, int32_t tiltSpeed) override;
  int32_t RelativeZoom(int32_t zoom, int32_t zoomSpeed) override;
  int32_t GoPreset(int32_t index) override;
  int32_t SetPreset(int32_t index) override;
  int32_t PointMove(const Talvo::GDRV::Point& point) override;
  int32_t AreaZoom(const Talvo::GDRV::Rect& area) override;

 private:
  ~TelemetryChannel() = default;
  bool presetInRange(int32_t index) const;
  // One GET of `path`; 0 or the request's result code.
  int32_t send(const std::string& path) const;

  const uint32_t channel_;
  Device* const device_;
  uint32_t panSpeed_ = 0, tiltSpeed_ = 0, panStep_ = 0, tiltStep_ = 0, zoomSpeed_ = 0, zoomStep_ = 0;
  uint32_t presetCount_ = 0;
  bool angleMove_ = false;  // h/v (angles) instead of x/y in moves
  bool areaZoom_ = false;
  bool pointMove_ = false;
};

}  // namespace Vantrel
