#include "VideoSourceVer2.h"

#include <optional>
#include <string>
#include <vector>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/lexical_cast.hpp>
#include <boost/xpressive/xpressive.hpp>

#include "Device.h"

namespace Vantrel {

using Talvo::Utility::ParamsMap;

namespace {

const char kSetPrefix[] = "/control/control?set&section=";
const char kReadPrefix[] = "/control/control?read&section=";

// A host setting that the camera takes as a per-lens item.
struct LensSetting {
  const char* name;
  const char* key;
  bool isInt;  // else text
};

// In the order the camera expects them.
const LensSetting kGeneralLensSettings[] = {
    {"imageFlip", "rotate", true},
    {"imageMirror", "mirror", false},
    {"noiseSuppress", "noisesuppress", false},
    {"sharpness", "sharpen", true},
    {"automaticSharpness", "sharpen_dark_percent", true},
    {"panoMode", "config_180_view", true},
    {"imageQuality", "reduced_mode", true},
    {"displayMode", "display_mode", false},
    {"nightswitch", "nightswitch", true},
    {"nightswitchdelay", "nightswitchdelay", true},
    {"nswSource", "nisw_source", false},
};

// Exposure items before the window description.
const LensSetting kExposureLensSettings[] = {
    {"avgIntensityBrightness", "ca_avg_intensity", true},
    {"minIntensityBrightness", "ca_exp_minavg", true},
    {"automaticContrast", "automatic", false},
    {"nightImprovement", "ca_night_improve", false},
    {"exposure", "ca_exp_corr", true},
    {"maxExposure", "ca_exp_max", true},
    {"minExposure", "ca_exp_min", true},
    {"brightness", "brightness", true},
    {"backlight", "backlight", true},
};

const LensSetting kColorLensSettings[] = {
    {"saturation", "color", true},
    {"whiteBalance", "wb_profile", true},
    {"redGain", "red", true},
    {"blueGain", "blue", true},
    {"autoSaturationControl", "color_dark_percent", true},
};

// The exposure-window description: the camera gets all of it whenever one part changes.
const char* const kExposureWindowSettings[] = {"exposureMode", "exposureWindows", "exposureWindowsWeight",
                                               "exposureWbalWindowsWeight", "exposureWindowsDraw"};

const char* const kObscureSettings[] = {"obscureImage", "obscureImageTimetable", "obscureImageColor",
                                        "obscureImageArea"};

const boost::any* find(const ParamsMap& set, const char* name) {
  const auto found = set.find(name);
  return found == set.end() ? nullptr : &found->second;
}

template <size_t N>
bool containsAny(const ParamsMap& set, const char* const (&names)[N]) {
  for (const char* name : names)
    if (set.count(name)) return true;
  return false;
}

std::string intText(const boost::any& value) { return std::to_string(boost::any_cast<int>(value)); }
std::string text(const boost::any& value) { return boost::any_cast<std::string>(value); }

template <size_t N>
void collectLensItems(const ParamsMap& set, const LensSetting (&settings)[N], VideoSourceVer2::LensItems& items) {
  for (const LensSetting& setting : settings)
    if (const boost::any* value = find(set, setting.name))
      items.emplace_back(setting.key, setting.isInt ? intText(*value) : text(*value));
}

// A window weight may be stored as a number or as text holding one. Anything else is refused
// like a value of the wrong type (bad_any_cast, result 4) so that no garbage reaches the camera.
int weightValue(const boost::any& value) {
  if (const int* number = boost::any_cast<int>(&value)) return *number;
  try {
    return boost::lexical_cast<int>(boost::any_cast<std::string>(value));
  } catch (const boost::bad_lexical_cast&) {
    throw boost::bad_any_cast();
  }
}

// One obscure area: six comma-separated decimal integers of up to nine digits (a leading '-'
// allowed), blanks around the fields ignored. `fields` receives them joined by ",".
bool parseAreaEntry(const std::string& entry, std::string& fields) {
  std::vector<std::string> parts;
  boost::algorithm::split(parts, entry, boost::algorithm::is_any_of(","));
  if (parts.size() != 6) return false;
  using namespace boost::xpressive;
  const sregex number = !as_xpr('-') >> repeat<1, 9>(_d);
  fields.clear();
  for (std::string& part : parts) {
    boost::algorithm::trim(part);
    if (!regex_match(part, number)) return false;
    fields += (fields.empty() ? "" : ",") + part;
  }
  return true;
}

}  // namespace

VideoSourceVer2::VideoSourceVer2(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t stream, uint32_t channel,
                                 Talvo::MFF::IMultimediaFrameFactory* factory, Device* device)
    : VideoSource(handler, stream, channel, factory, device) {
  const auto& channels = device->modelEntry().videoChannels;
  if (channel < channels.size()) {
    const auto* oneLens = dynamic_cast<const Talvo::GDRV::PropertyInt*>(
        Talvo::GDRV::findProperty(channels[channel].parameters, "isOneLens"));
    oneLens_ = oneLens && oneLens->value > 0;
  }
}

void VideoSourceVer2::doApplySettings() {
  ParamsMap set;
  Talvo::IAsyncActionHandler* handler = nullptr;
  if (!parameters_.popParameters(set, handler)) return;
  parameters_.updateParams(set);
  if (set.empty()) {
    finishSet(handler, 0);
    return;
  }
  if (processBlockingConfiguration(set, handler)) return;
  int result = 0;
  try {
    Talvo::http::HttpSession session(device()->cameraConnection(), logger());
    // Each section is built only after the one before was sent: a lens read must see the
    // camera as the earlier sections left it.
    sendSection(session, "general", generalSettings(set), result);
    sendSection(session, "exposure", exposureSettings(set), result);
    sendSection(session, "color", colorSettings(set), result);
    sendSection(session, "jpeg", jpegSettings(set), result);
  } catch (const std::exception& e) {
    result = settingsFailure(e, "doApplySettings");
  }
  finishSet(handler, result);
}

void VideoSourceVer2::sendSection(Talvo::http::HttpSession& session, const std::string& section,
                                  const std::string& text, int& result) {
  if (!text.empty()) sendSettingsRequest(session, kSetPrefix + section + text, result);
}

std::string VideoSourceVer2::generalSettings(const ParamsMap& set) {
  std::string out;
  if (const boost::any* value = find(set, "resolution")) out += "&size=" + text(*value);
  if (const boost::any* value = find(set, "fps"))
    out += "&framerate100=" + std::to_string(boost::any_cast<int>(*value) * 100);
  if (const boost::any* value = find(set, "cameraLens")) out += "&camera=" + text(*value);
  LensItems items;
  collectLensItems(set, kGeneralLensSettings, items);
  out += prepareLensCommand("general", items);
  out += obscureSettings(set);
  return out;
}

std::string VideoSourceVer2::exposureSettings(const ParamsMap& set) {
  std::string out;
  if (const boost::any* value = find(set, "flickerfree")) out += "&ca_linefreq=" + intText(*value);
  LensItems items;
  collectLensItems(set, kExposureLensSettings, items);
  addExposureWindows(set, items);
  if (const boost::any* value = find(set, "sensorGainRange")) items.emplace_back("ca_gain_max", intText(*value));
  out += prepareLensCommand("exposure", items);
  return out;
}

void VideoSourceVer2::addExposureWindows(const ParamsMap& set, LensItems& items) const {
  if (!containsAny(set, kExposureWindowSettings)) return;
  // Parts never stored are left out; the camera keeps its own value for them.
  const auto add = [&](const char* name, const char* key, bool isWeight) {
    const boost::any value = parameters_.getPersistentParam(name);
    if (value.empty()) return;
    items.emplace_back(key, isWeight ? std::to_string(weightValue(value)) : text(value));
  };
  add("exposureMode", "ca_exp_mode", false);
  add("exposureWindows", "ca_exp_window_type", false);
  add("exposureWindowsWeight", "ca_exp_window_weight", true);
  add("exposureWbalWindowsWeight", "ca_wbal_window_weight", true);
  add("exposureWindowsDraw", "ca_exp_window_draw", false);
}

std::string VideoSourceVer2::colorSettings(const ParamsMap& set) {
  LensItems items;
  collectLensItems(set, kColorLensSettings, items);
  return prepareLensCommand("color", items);
}

std::string VideoSourceVer2::jpegSettings(const ParamsMap& set) {
  std::string out;
  if (find(set, "codec"))
    out += "&motionjpeg=" + Talvo::Utility::getCodecValue(parameters_, device()->driverInfo(), "MJPEG");
  if (const boost::any* value = find(set, "compression"))
    out += "&quality=" + std::to_string((10 - boost::any_cast<int>(*value)) * 10);
  if (const boost::any* value = find(set, "quality")) out += "&quality=" + intText(*value);
  out += prepareLensCommand("jpeg", LensItems());  // the camera has no per-lens jpeg keys
  return out;
}

std::string VideoSourceVer2::obscureSettings(const ParamsMap& set) {
  if (!containsAny(set, kObscureSettings)) return std::string();
  // The stored values go out together so that the camera always has the whole description.
  std::string out;
  const auto stored = [this](const char* name) { return parameters_.getPersistentParam(name); };
  const boost::any image = stored("obscureImage");
  if (!image.empty()) out += "&obscure_image=" + text(image);
  const boost::any timetable = stored("obscureImageTimetable");
  if (!timetable.empty()) out += "&obscure_image_timetable=" + text(timetable);
  const boost::any color = stored("obscureImageColor");
  if (!color.empty()) out += "&obscure_image_area_color=" + text(color);
  const boost::any area = stored("obscureImageArea");
  if (!area.empty()) {
    if (const auto areaText = obscureAreaText(text(area))) out += "&obscure_image_area=" + *areaText;
  }
  return out;
}

// The host stores the areas as entries separated by ';' or line breaks, each
// "x1,y1,x2,y2,a,b" of decimal integers; the camera takes them as "x1,y1,x2,y2,a,b%0A" each.
// Empty entries are ignored, so an empty list clears the areas on the camera.
std::optional<std::string> VideoSourceVer2::obscureAreaText(const std::string& stored) {
  std::vector<std::string> entries;
  boost::algorithm::split(entries, stored, boost::algorithm::is_any_of(";\r\n"));
  std::string out;
  for (const std::string& entry : entries) {
    if (boost::algorithm::trim_copy(entry).empty()) continue;
    std::string fields;
    if (!parseAreaEntry(entry, fields)) {
      if (isLevelEnabled(3))
        log(3, __FILE__, __LINE__, "doApplySettings",
            " Wrong format the parameter Obscure Image Area: '" + entry +
                "' : expected six comma-separated decimal numbers");
      return std::nullopt;
    }
    out += fields + "%0A";
  }
  return out;
}

std::string VideoSourceVer2::prepareLensCommand(const std::string& section, const LensItems& items) {
  if (items.empty()) return std::string();
  if (oneLens_) {
    std::string out;
    for (const auto& item : items) out += "&" + item.first + "=" + item.second;
    return out;
  }
  const std::string lens = cameraLens();
  if (lens.empty() || lens == "both" || lens == "auto") return bothLensText(items);
  std::optional<LensPairs> current;
  try {
    current = readCurrentPairs(section, items);
  } catch (const std::exception&) {
    NLOG(*this, 3,
         " HTTP error ocured while getting current settings from the device. Same settings will be applyed for both "
         "lens.");
    return bothLensText(items);
  }
  if (!current) return bothLensText(items);
  std::string out;
  for (const auto& item : items) {
    const auto pair = current->find(item.first);
    if (pair == current->end()) {
      out += bothLensText({item});  // the camera keeps no pair for this key
    } else if (lens == "right") {
      out += "&" + item.first + "=" + item.second + "+" + pair->second.second;
    } else if (lens == "left") {
      out += "&" + item.first + "=" + pair->second.first + "+" + item.second;
    }
  }
  return out;
}

std::optional<VideoSourceVer2::LensPairs> VideoSourceVer2::readCurrentPairs(const std::string& section,
                                                                            const LensItems& items) {
  std::string path = kReadPrefix + section;
  for (const auto& item : items) path += "&" + item.first;
  Talvo::http::HttpSession session(device()->cameraConnection(), logger());
  Talvo::http::HttpResponse response;
  std::string body;
  boost::system::error_code error;
  if (!session.get(path, response, body, error)) throw boost::system::system_error(error);
  if (!response.isSuccess()) return std::nullopt;
  return lensPairsIn(body, items);
}

}  // namespace Vantrel
