// The camera models the simulator can play, with their firmware text and default configuration.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace camsim {

// Keys of a section in the order the camera lists them.
using SectionLines = std::vector<std::pair<std::string, std::string>>;
using SectionMap = std::map<std::string, SectionLines>;

struct ModelInfo {
  std::string name;      // e.g. "VX-S10", sent in the CFL header
  std::string firmware;  // sent in the SWV header
  int lensCount = 1;     // 1 or 2; dual-lens per-lens values read "first+second"
  bool thermal = false;  // only VX-T40; its pictures carry a TSL header
  bool h264 = false;     // only VX-H30: serves its H.264 stream over RTSP
};

// Known model by name, or nothing.
std::optional<ModelInfo> findModel(const std::string& name);

// Serials of the RS-232 I/O boxes connected to a model (the camera lists them).
std::vector<std::string> rs232Boards(const ModelInfo& model);

// Names of all models, for --help.
std::vector<std::string> modelNames();

// Default configuration sections of a model; pictureSize ("WxH") and quality come from
// --picture and --quality.
SectionMap defaultSections(const ModelInfo& model, const std::string& pictureSize, int quality);

}  // namespace camsim
