// The thermal sensors' view on a thermal model: a scene at one temperature with an optional hot
// rectangle, set through /sim/thermal, and the camera's encoding of it into "ZLT" COM segments
// (raw values from -273.15 °C, 0.04 °C per step in gain 0 or 0.4 °C in gain 1, advanced
// radiometry; as little-endian
// pairs, or LZ4-compressed as a plane of low bytes followed by a plane of high bytes; split into
// numbered blocks).
// Thread safety: ThermalScene may be used from any io thread; the functions are pure.
#pragma once

#include "Query.h"
#include "Reply.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

struct HotSpot {
  double celsius = 0;
  int x = 0, y = 0, width = 0, height = 0;
};

struct ThermalSettings {
  double celsius = 20.0;
  std::optional<double> sensor1Celsius;  // sensor 1's background when it differs from sensor 0's
  std::optional<HotSpot> hot;
  int sensors = 1;  // 1 or 2
  bool compressed = true;
  int blocks = 2;  // 1..16; more when a block would not fit one segment
  int gain = 0;    // the sensors' gain: 0 (0.04 °C per raw step) or 1 (0.4 °C)
  // The device temperatures the camera reports (TIN, TOU lines of getText); none: no line.
  std::optional<double> tin = 35.0;
  std::optional<double> tou = 25.0;
  // The camera time of getText ("TIT") as written; none: the current time in seconds.
  std::optional<std::string> tit;
};

struct ThermalSettingsParse {
  std::optional<ThermalSettings> settings;
  std::string error;
};

// Reads celsius=, sensor1= (empty: as sensor 0), hot=t,x,y,w,h, sensors=, compressed=, blocks=,
// gain= over the current settings, and the device temperatures tin=, tou= as a pair: a query
// naming one of them drops the other; tit= fixes the camera time of getText (empty: the current
// time again).
ThermalSettingsParse parseThermalSettings(const Target& target, ThermalSettings current);
std::string thermalSettingsJson(const ThermalSettings& settings);

class ThermalScene {
 public:
  static constexpr int kWidth = 160;
  static constexpr int kHeight = 120;

  ThermalSettings settings() const;
  void set(const ThermalSettings& settings);

 private:
  mutable std::mutex mutex_;
  ThermalSettings settings_;
};

// /sim/thermal: sets the scene from the query and answers it as JSON (400 with the reason for a
// bad query, the scene unchanged).
Reply thermalControl(ThermalScene& scene, const Target& target);

// The answer to "/control/rcontrol?action=getText&message=...": the message's lines (separated by
// CR or LF) with "$(FPR.TIT)" replaced by `nowSeconds`, "$(SEN.TIN.CELSIUS)" and
// "$(SEN.TOU.CELSIUS)" by the device temperatures; a line naming a temperature the camera does
// not have is left out. Lines end with CR LF.
std::string deviceTemperatureText(const ThermalSettings& settings, const std::string& message,
                                  std::uint64_t nowSeconds);

// The raw values of one sensor's picture, row by row.
std::vector<std::uint16_t> thermalRawValues(const ThermalSettings& settings, int sensor);
// The COM segments (marker included) that carry one sensor's picture.
std::vector<std::string> thermalSegments(const ThermalSettings& settings, int sensor);

}  // namespace camsim
