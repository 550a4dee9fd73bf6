#include "Models.h"

namespace camsim {

namespace {

const std::vector<ModelInfo>& allModels() {
  static const std::vector<ModelInfo> models = {
      {"VX-S10", "4.2.1", 1, false},  {"VX-D20", "4.3.0", 2, false}, {"VX-D21", "5.0.2", 1, false},
      {"VX-H30", "4.4.3", 1, false, true},  {"VX-T40", "4.5.1", 2, true},  {"VX-P50", "4.2.7", 1, false},
      {"VX-IO60", "4.2.4", 1, false}, {"VX-M70", "4.6.0", 1, false},
  };
  return models;
}

// Builds per-lens values: one value on one-lens models, "first+second" on dual-lens models.
class LensValues {
 public:
  explicit LensValues(int lensCount) : dual_(lensCount == 2) {}
  std::string operator()(const std::string& first, const std::string& second) const {
    return dual_ ? first + "+" + second : first;
  }
  std::string operator()(const std::string& both) const { return (*this)(both, both); }
  bool dual() const { return dual_; }

 private:
  bool dual_;
};

SectionLines imageControl(const LensValues& lens, const std::string& size, const std::string& quality) {
  return {{"size", size},
          {"quality", quality},
          {"brightness", lens("0")},
          {"backlight", lens("0")},
          {"color", lens("0")},
          {"sharpen", lens("0")},
          {"rotate", lens("0")},
          {"mirror", lens("0")},
          {"camera", lens.dual() ? "both" : "auto"},
          {"wb_profile", lens("auto")},
          {"red", lens("0")},
          {"blue", lens("0")},
          {"reduced_mode", lens("0")},
          {"display_mode", "simple"},
          {"automatic", "on"},
          {"noisesuppress", lens("2")}};
}

SectionLines quickControl(const LensValues& lens) {
  return {{"brightness", lens("0")}, {"backlight", lens("0")},     {"color", lens("0")},
          {"sharpen", lens("0")},    {"rotate", lens("0")},        {"red", lens("0")},
          {"blue", lens("0")},       {"wb_profile", lens("auto")}, {"reduced_mode", lens("0")}};
}

SectionLines general(const LensValues& lens, const std::string& size) {
  return {{"framerate100", "2500"},
          {"size", size},
          {"camera", lens.dual() ? "both" : "auto"},
          {"rotate", lens("0")},
          {"mirror", lens("0")},
          {"noisesuppress", lens("2")},
          {"sharpen", lens("0")},
          {"sharpen_dark_percent", lens("50")},
          {"config_180_view", lens("0")},
          {"reduced_mode", lens("0")},
          {"display_mode", "simple"},
          {"nightswitch", "off"},
          {"nightswitchdelay", "10"},
          {"nisw_source", "exposure"}};
}

SectionLines exposure(const LensValues& lens) {
  return {{"ca_linefreq", "50"},           {"ca_avg_intensity", lens("50")},
          {"ca_exp_minavg", lens("10")},   {"automatic", "on"},
          {"ca_night_improve", lens("0")}, {"ca_exp_corr", lens("0")},
          {"ca_exp_max", lens("20000")},   {"ca_exp_min", lens("100")},
          {"brightness", lens("0")},       {"backlight", lens("0")},
          {"ca_exp_mode", "auto"},         {"ca_exp_window_type", "full"},
          {"ca_exp_window_weight", "100"}, {"ca_wbal_window_weight", "100"},
          {"ca_exp_window_draw", "off"},   {"ca_gain_max", lens("100")}};
}

SectionLines exposureControl(const LensValues& lens) {
  return {{"ca_linefreq", "50"},         {"ca_night_improve", lens("0")}, {"ca_avg_intensity", lens("50")},
          {"ca_exp_minavg", lens("10")}, {"ca_exp_corr", lens("0")},      {"ca_exp_max", lens("20000")},
          {"ca_exp_min", lens("100")}};
}

SectionLines color(const LensValues& lens) {
  return {{"color", lens("0")},
          {"wb_profile", lens("auto")},
          {"red", lens("0")},
          {"blue", lens("0")},
          {"color_dark_percent", lens("50")}};
}

// Sections only some models have.
void addModelExtras(const ModelInfo& model, SectionMap& sections) {
  if (model.name == "VX-H30") {
    sections["h264"] = {{"enabled", "on"}, {"bitrate", "4000"}, {"gop", "50"}};
  } else if (model.name == "VX-T40") {
    sections["thermal"] = {{"palette", "iron"}, {"range_min", "-20"}, {"range_max", "120"}, {"uhu_raw_data", "disable"}};
  } else if (model.name == "VX-P50") {
    sections["ptz"] = {{"pan", "0"}, {"tilt", "0"}, {"zoom", "100"}};
  } else if (model.name == "VX-IO60") {
    sections["io"] = {{"input1", "open"}, {"input2", "open"}, {"output1", "off"}};
  } else if (model.name == "VX-M70") {
    sections["motion"] = {{"enabled", "on"}, {"sensitivity", "50"}, {"window", "full"}};
  }
}

}  // namespace

std::optional<ModelInfo> findModel(const std::string& name) {
  for (const ModelInfo& model : allModels()) {
    if (model.name == name) return model;
  }
  return std::nullopt;
}

std::vector<std::string> rs232Boards(const ModelInfo& model) {
  if (model.name == "VX-IO60") return {"zl0012345"};
  return {};
}

std::vector<std::string> modelNames() {
  std::vector<std::string> names;
  for (const ModelInfo& model : allModels()) names.push_back(model.name);
  return names;
}

SectionMap defaultSections(const ModelInfo& model, const std::string& pictureSize, int quality) {
  const LensValues lens(model.lensCount);
  SectionMap sections;
  sections["imagecontrol"] = imageControl(lens, pictureSize, std::to_string(quality));
  sections["quickcontrol"] = quickControl(lens);
  sections["general"] = general(lens, pictureSize);
  sections["exposure"] = exposure(lens);
  sections["exposurecontrol"] = exposureControl(lens);
  sections["color"] = color(lens);
  sections["jpeg"] = {{"quality", std::to_string(quality)}, {"motionjpeg", "on"}};
  sections["audio"] = {{"PREAMPLIFIER", "0"}};
  sections["eventcontrol"] = {{"edactiv", "disable"}};
  sections["event_msg"] = {};
  addModelExtras(model, sections);
  return sections;
}

}  // namespace camsim
