#include "VideoSettings.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/lexical_cast.hpp>
#include <boost/xpressive/xpressive.hpp>

#include "host/Nuvlet/PercentEncoding.h"

namespace Vantrel {

using Talvo::Utility::anyOr;
using Talvo::Utility::ParametersContainer;
using Talvo::Utility::ParamsMap;

namespace {

const char kControl[] = "/control/control?";
const char kSetSection[] = "/control/control?set&section=";

// ---- values ---------------------------------------------------------------------------------

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
// A host's text as a query value: "&" or a blank in it must not change the request.
std::string urlText(const boost::any& value) { return Talvo::Utility::percentEncode(text(value)); }
std::string valueText(const boost::any& value, bool isInt) { return isInt ? intText(value) : urlText(value); }
// The camera's JPEG quality for the host's compression level 0..10.
std::string qualityText(const boost::any& compression) {
  return std::to_string((10 - boost::any_cast<int>(compression)) * 10);
}

// A host setting the camera takes as "&key=value" or as a lens item.
struct Setting {
  const char* name;
  const char* key;
  bool isInt;  // else text
};

template <size_t N>
void addPairs(const ParamsMap& set, const Setting (&settings)[N], std::string& out) {
  for (const Setting& setting : settings)
    if (const boost::any* value = find(set, setting.name)) out += setting.key + valueText(*value, setting.isInt);
}

template <size_t N>
void addLensItems(const ParamsMap& set, const Setting (&settings)[N], LensItems& items) {
  for (const Setting& setting : settings)
    if (const boost::any* value = find(set, setting.name))
      items.emplace_back(setting.key, valueText(*value, setting.isInt));
}

// Builds the requests one after another; a value of the wrong type stops the building there.
template <class Build>
SettingsPlan planOf(Build build) {
  SettingsPlan plan;
  try {
    build(plan.requests);
  } catch (...) {
    plan.failure = std::current_exception();
  }
  return plan;
}

// ---- classic cameras ------------------------------------------------------------------------

// The image request's settings in the order the camera expects them; the lens items go out
// together after the plain pairs.
enum class ImageKind { Text, Quality, LensItem };
struct ImageSetting {
  const char* name;
  const char* key;
  ImageKind kind;
};
const ImageSetting kImageSettings[] = {
    {"resolution", "&size=", ImageKind::Text},
    {"compression", "&quality=", ImageKind::Quality},
    {"imageFlip", "rotate", ImageKind::LensItem},
    {"imageMirror", "&mirror=", ImageKind::Text},
    {"noiseSuppress", "&noisesuppress=", ImageKind::Text},
    {"brightness", "brightness", ImageKind::LensItem},
    {"backlight", "backlight", ImageKind::LensItem},
    {"saturation", "color", ImageKind::LensItem},
    {"sharpness", "sharpen", ImageKind::LensItem},
    {"whiteBalance", "wb_profile", ImageKind::LensItem},
    {"redGain", "red", ImageKind::LensItem},
    {"blueGain", "blue", ImageKind::LensItem},
    {"imageQuality", "reduced_mode", ImageKind::LensItem},
    {"automaticContrast", "&automatic=", ImageKind::Text},
};

const Setting kClassicExposureSettings[] = {
    {"flickerfree", "&ca_linefreq=", true},
    {"nightImprovement", "&ca_night_improve=", false},
    {"avgIntensityBrightness", "&ca_avg_intensity=", true},
    {"minIntensityBrightness", "&ca_exp_minavg=", true},
    {"exposure", "&ca_exp_corr=", true},
    {"maxExposure", "&ca_exp_max=", true},
    {"minExposure", "&ca_exp_min=", true},
};

SettingsRequest imageRequest(const ParamsMap& set) {
  SettingsRequest request;
  request.prefix = std::string(kControl) + "section=imagecontrol";
  request.lensSection = "quickcontrol";
  for (const ImageSetting& setting : kImageSettings) {
    const boost::any* value = find(set, setting.name);
    if (!value) continue;
    switch (setting.kind) {
      case ImageKind::Text:
        request.head += setting.key + urlText(*value);
        break;
      case ImageKind::Quality:
        request.head += setting.key + qualityText(*value);
        break;
      case ImageKind::LensItem:
        request.lensItems.emplace_back(setting.key, intText(*value));
        break;
    }
  }
  if (const boost::any* mode = find(set, "displayMode")) request.tail += "&display_mode=" + urlText(*mode);
  if (const boost::any* lens = find(set, "cameraLens")) request.tail += "&camera=" + urlText(*lens);
  return request;
}

// The camera takes 0 for "as fast as it can", which the host writes as 0 or 31.
SettingsRequest frameRateRequest(const boost::any& fps) {
  const int f = boost::any_cast<int>(fps);
  SettingsRequest request;
  request.prefix = std::string(kControl) + "section=general";
  request.head = "&framerate100=" + ((f == 31 || f == 0) ? std::string("0") : std::to_string(f) + "00");
  return request;
}

SettingsRequest classicExposureRequest(const ParamsMap& set) {
  SettingsRequest request;
  request.prefix = std::string(kControl) + "set&section=exposurecontrol";
  addPairs(set, kClassicExposureSettings, request.head);
  return request;
}

// ---- sectioned cameras ----------------------------------------------------------------------

const Setting kGeneralLensSettings[] = {
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
const Setting kExposureLensSettings[] = {
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

const Setting kColorLensSettings[] = {
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

SettingsRequest sectionRequest(const char* section) {
  SettingsRequest request;
  request.prefix = std::string(kSetSection) + section;
  request.lensSection = section;
  return request;
}

// A window weight may be stored as a number or as text holding one. Anything else is refused
// like a value of the wrong type so that no garbage reaches the camera.
int weightValue(const boost::any& value) {
  if (const int* number = boost::any_cast<int>(&value)) return *number;
  try {
    return boost::lexical_cast<int>(boost::any_cast<std::string>(value));
  } catch (const boost::bad_lexical_cast&) {
    throw boost::bad_any_cast();
  }
}

void addExposureWindow(const ParamsMap& set, const ParametersContainer& stored, LensItems& items) {
  if (!containsAny(set, kExposureWindowSettings)) return;
  // Parts never stored are left out; the camera keeps its own value for them.
  const auto add = [&](const char* name, const char* key, bool isWeight) {
    const boost::any value = stored.getPersistentParam(name);
    if (value.empty()) return;
    items.emplace_back(key, isWeight ? std::to_string(weightValue(value)) : urlText(value));
  };
  add("exposureMode", "ca_exp_mode", false);
  add("exposureWindows", "ca_exp_window_type", false);
  add("exposureWindowsWeight", "ca_exp_window_weight", true);
  add("exposureWbalWindowsWeight", "ca_wbal_window_weight", true);
  add("exposureWindowsDraw", "ca_exp_window_draw", false);
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

// The host stores the areas as entries separated by ';' or line breaks, each
// "x1,y1,x2,y2,a,b"; the camera takes them as "x1,y1,x2,y2,a,b%0A" each. Empty entries are
// ignored, so an empty list clears the areas on the camera. A malformed entry leaves the whole
// area out.
std::optional<std::string> obscureAreaText(const std::string& stored, std::optional<std::string>& malformed) {
  std::vector<std::string> entries;
  boost::algorithm::split(entries, stored, boost::algorithm::is_any_of(";\r\n"));
  std::string out;
  for (const std::string& entry : entries) {
    if (boost::algorithm::trim_copy(entry).empty()) continue;
    std::string fields;
    if (!parseAreaEntry(entry, fields)) {
      malformed = entry;
      return std::nullopt;
    }
    out += fields + "%0A";
  }
  return out;
}

// The stored obscure settings go out together so that the camera always has the whole description.
void addObscureSettings(const ParamsMap& set, const ParametersContainer& stored, SettingsRequest& request) {
  if (!containsAny(set, kObscureSettings)) return;
  const std::pair<const char*, const char*> plain[] = {{"obscureImage", "&obscure_image="},
                                                       {"obscureImageTimetable", "&obscure_image_timetable="},
                                                       {"obscureImageColor", "&obscure_image_area_color="}};
  for (const auto& setting : plain) {
    const boost::any value = stored.getPersistentParam(setting.first);
    if (!value.empty()) request.tail += setting.second + urlText(value);
  }
  const boost::any area = stored.getPersistentParam("obscureImageArea");
  if (area.empty()) return;
  if (const auto areaText = obscureAreaText(text(area), request.malformedArea))
    request.tail += "&obscure_image_area=" + *areaText;
}

SettingsRequest generalRequest(const ParamsMap& set, const ParametersContainer& stored) {
  SettingsRequest request = sectionRequest("general");
  if (const boost::any* value = find(set, "resolution")) request.head += "&size=" + urlText(*value);
  if (const boost::any* value = find(set, "fps"))
    request.head += "&framerate100=" + std::to_string(boost::any_cast<int>(*value) * 100);
  if (const boost::any* value = find(set, "cameraLens")) request.head += "&camera=" + urlText(*value);
  addLensItems(set, kGeneralLensSettings, request.lensItems);
  addObscureSettings(set, stored, request);
  return request;
}

SettingsRequest exposureRequest(const ParamsMap& set, const ParametersContainer& stored) {
  SettingsRequest request = sectionRequest("exposure");
  if (const boost::any* value = find(set, "flickerfree")) request.head += "&ca_linefreq=" + intText(*value);
  addLensItems(set, kExposureLensSettings, request.lensItems);
  addExposureWindow(set, stored, request.lensItems);
  if (const boost::any* value = find(set, "sensorGainRange"))
    request.lensItems.emplace_back("ca_gain_max", intText(*value));
  return request;
}

SettingsRequest colorRequest(const ParamsMap& set) {
  SettingsRequest request = sectionRequest("color");
  addLensItems(set, kColorLensSettings, request.lensItems);
  return request;
}

// The camera has no per-lens jpeg keys.
SettingsRequest jpegRequest(const ParamsMap& set, const std::string& motionJpegValue) {
  SettingsRequest request = sectionRequest("jpeg");
  if (find(set, "codec")) request.head += "&motionjpeg=" + motionJpegValue;
  if (const boost::any* value = find(set, "compression")) request.head += "&quality=" + qualityText(*value);
  if (const boost::any* value = find(set, "quality")) request.head += "&quality=" + intText(*value);
  return request;
}

}  // namespace

LensChoice lensChoiceOf(bool oneLens, const boost::any& cameraLens) {
  if (oneLens) return LensChoice::Single;
  const std::string lens = anyOr<std::string>(cameraLens, std::string());
  if (lens.empty() || lens == "both" || lens == "auto") return LensChoice::Both;
  if (lens == "right") return LensChoice::Right;
  if (lens == "left") return LensChoice::Left;
  return LensChoice::Other;
}

bool needsCurrentPairs(const SettingsRequest& request, LensChoice lens) {
  return !request.lensItems.empty() && lens != LensChoice::Single && lens != LensChoice::Both;
}

std::string currentPairsPath(const SettingsRequest& request) {
  std::string path = std::string(kControl) + "read&section=" + request.lensSection;
  for (const auto& item : request.lensItems) path += "&" + item.first;
  return path;
}

LensPairs lensPairsIn(const std::string& body, const LensItems& items) {
  LensPairs pairs;
  using namespace boost::xpressive;
  for (const auto& item : items) {
    // key=first+second at the start of a line or after "&"; each number may carry a sign.
    const sregex pair = (bos | set[as_xpr('\n') | '\r' | '&']) >> as_xpr(item.first) >> '=' >>
                        (s1 = !as_xpr('-') >> +_d) >> '+' >> (s2 = !as_xpr('-') >> +_d);
    smatch match;
    if (regex_search(body, match, pair)) pairs[item.first] = {match[1].str(), match[2].str()};
  }
  return pairs;
}

std::string lensText(const LensItems& items, LensChoice lens, const std::optional<LensPairs>& current) {
  std::string text;
  for (const auto& item : items) {
    const std::string& key = item.first;
    const std::string& value = item.second;
    if (lens == LensChoice::Single) {
      text += "&" + key + "=" + value;
      continue;
    }
    const auto pair = current ? current->find(key) : LensPairs::const_iterator();
    if (lens == LensChoice::Both || !current || pair == current->end()) {
      text += "&" + key + "=" + value + "+" + value;  // both sensors alike
    } else if (lens == LensChoice::Right) {
      text += "&" + key + "=" + value + "+" + pair->second.second;
    } else if (lens == LensChoice::Left) {
      text += "&" + key + "=" + pair->second.first + "+" + value;
    }
  }
  return text;
}

std::string requestPath(const SettingsRequest& request, const std::string& lensText) {
  const std::string appended = request.head + lensText + request.tail;
  return appended.empty() ? std::string() : request.prefix + appended;
}

SettingsPlan classicSettingsPlan(const ParamsMap& set) {
  return planOf([&](std::vector<SettingsRequest>& requests) {
    requests.push_back(imageRequest(set));
    if (const boost::any* fps = find(set, "fps")) requests.push_back(frameRateRequest(*fps));
    requests.push_back(classicExposureRequest(set));
  });
}

SettingsPlan sectionSettingsPlan(const ParamsMap& set, const ParametersContainer& stored,
                                 const std::string& motionJpegValue) {
  return planOf([&](std::vector<SettingsRequest>& requests) {
    requests.push_back(generalRequest(set, stored));
    requests.push_back(exposureRequest(set, stored));
    requests.push_back(colorRequest(set));
    requests.push_back(jpegRequest(set, motionJpegValue));
  });
}

}  // namespace Vantrel
