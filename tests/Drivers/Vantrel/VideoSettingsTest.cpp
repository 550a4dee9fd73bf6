// The settings builders as tables: the sets a host applies, one after another, in; the camera
// requests out, in the order the video sources send them (a lens read before the request that
// needs it), with the camera's current lens pairs given.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VideoSettings.h"

namespace {

using Vantrel::LensChoice;
using Vantrel::LensPairs;

const std::string kImage = "/control/control?section=imagecontrol";
const std::string kGeneral = "/control/control?section=general&framerate100=";
const std::string kSet = "/control/control?set&section=";
const std::string kRead = "/control/control?read&section=";
const char* const kBadValue = "(the set fails: a value of the wrong type)";

struct Case {
  const char* name;
  std::vector<std::string> sets;  // "name=value ...", see setOf
  std::vector<std::string> sent;
  std::optional<LensPairs> current = std::nullopt;  // the camera's pairs; none: its read gets no good answer
  bool oneLens = false;
};

// A set written as "name=value ...": a value of digits is a number, any other a text; a text in
// '' may hold blanks or be all digits.
Talvo::Utility::ParamsMap setOf(const std::string& text) {
  Talvo::Utility::ParamsMap set;
  for (size_t at = 0; at < text.size();) {
    const size_t equals = text.find('=', at);
    const bool quoted = text[equals + 1] == '\'';
    const size_t begin = equals + 1 + quoted, end = std::min(text.find(quoted ? '\'' : ' ', begin), text.size());
    const std::string name = text.substr(at, equals - at), value = text.substr(begin, end - begin);
    const bool number = !quoted && value.find_first_not_of("-0123456789") == std::string::npos;
    set[name] = number ? boost::any(std::stoi(value)) : boost::any(value);
    at = end + 1 + quoted;
  }
  return set;
}

// What the video source does with each set: store it, build its plan, send every request (after
// the lens read it needs), then end the set with the failure that stopped the building.
std::vector<std::string> sentFor(const Case& c, bool sectioned) {
  Talvo::Utility::ParametersContainer stored;
  std::vector<std::string> sent;
  for (const std::string& text : c.sets) {
    const Talvo::Utility::ParamsMap set = setOf(text);
    stored.updateParams(set);
    const auto plan = sectioned ? Vantrel::sectionSettingsPlan(set, stored, "1") : Vantrel::classicSettingsPlan(set);
    const LensChoice lens = Vantrel::lensChoiceOf(c.oneLens, stored.getPersistentParam("cameraLens"));
    for (const auto& request : plan.requests) {
      std::optional<LensPairs> current;
      if (Vantrel::needsCurrentPairs(request, lens)) {
        sent.push_back(Vantrel::currentPairsPath(request));
        current = c.current;
      }
      const std::string path = Vantrel::requestPath(request, Vantrel::lensText(request.lensItems, lens, current));
      if (!path.empty()) sent.push_back(path);
      if (request.malformedArea) sent.push_back("malformed area '" + *request.malformedArea + "'");
    }
    if (plan.failure) sent.push_back(kBadValue);
  }
  return sent;
}

TEST(VideoSettings, ClassicCameras) {
  const Case cases[] = {
      {"frame rates, 0 and 31 being the camera's fastest",
       {"fps=31", "fps=0", "fps=25", "fps=12"},
       {kGeneral + "0", kGeneral + "0", kGeneral + "2500", kGeneral + "1200"}},
      {"exposure",
       {"flickerfree=50 nightImprovement=on minExposure=2"},
       {kSet + "exposurecontrol&ca_linefreq=50&ca_night_improve=on&ca_exp_min=2"}},
      {"the image request: plain pairs, then the lens items, then display mode and lens",
       {"cameraLens=both brightness=40 imageFlip=1 resolution=640x480 automaticContrast=on displayMode=dual "
        "imageMirror=off"},
       {kImage + "&size=640x480&mirror=off&automatic=on&rotate=1+1&brightness=40+40&display_mode=dual&camera=both"}},
      {"the requests before a wrong value still go", {"fps=25 flickerfree=often"}, {kGeneral + "2500", kBadValue}},
      // A host's text is a value, never more of the request: "&", "=", "+" and blanks in it are
      // percent-encoded, while the separators our own code writes ("+" between lenses, "," and
      // "%0A" in obscure areas) stay as they are.
      {"plain pairs, the tail and the exposure request",
       {"resolution=640x480&quality=1 displayMode='dual view' cameraLens=a+b", "nightImprovement=on&ca_exp_max=9"},
       {kImage + "&size=640x480%26quality%3D1&display_mode=dual%20view&camera=a%2Bb",
        kSet + "exposurecontrol&ca_night_improve=on%26ca_exp_max%3D9"},
       std::nullopt,
       true},
  };
  for (const Case& c : cases) EXPECT_EQ(sentFor(c, false), c.sent) << c.name;
}

TEST(VideoSettings, SectionedCameras) {
  const LensPairs current = {{"brightness", {"30", "50"}}, {"ca_exp_corr", {"-2", "4"}}};
  const Case cases[] = {
      {"one request per section, in order",
       {"fps=12 resolution=640x480 imageFlip=1 flickerfree=60 brightness=40 saturation=5 codec=mjpeg compression=3"},
       {kSet + "general&size=640x480&framerate100=1200&rotate=1+1", kSet + "exposure&ca_linefreq=60&brightness=40+40",
        kSet + "color&color=5+5", kSet + "jpeg&motionjpeg=1&quality=70"}},
      {"a one-lens camera gets single values; untouched sections get no request",
       {"brightness=40", "fps=12 sharpness=3 displayMode=dual"},
       {kSet + "exposure&brightness=40", kSet + "general&framerate100=1200&sharpen=3&display_mode=dual"},
       std::nullopt,
       true},
      {"colour and quality",
       {"whiteBalance=2 redGain=7 blueGain=-3 autoSaturationControl=40", "quality=85"},
       {kSet + "color&wb_profile=2+2&red=7+7&blue=-3+-3&color_dark_percent=40+40", kSet + "jpeg&quality=85"}},
      {"nothing to send", {""}, {}},
      // One lens of two, the other keeping its value or, without a good answer, both alike: also
      // VideoSourceVer2Test and CamsimVideoTest, against the camera.
      {"the left lens, several keys",
       {"cameraLens=left brightness=40 exposure=1"},
       {kSet + "general&camera=left", kRead + "exposure&ca_exp_corr&brightness",
        kSet + "exposure&ca_exp_corr=-2+1&brightness=30+40"},
       current},
      {"a key the camera names no pair for goes to both lenses",
       {"cameraLens=right backlight=2"},
       {kSet + "general&camera=right", kRead + "exposure&backlight", kSet + "exposure&backlight=2+2"},
       current},
      {"another lens name leaves the keys with a pair out",
       {"cameraLens=top brightness=40"},
       {kSet + "general&camera=top", kRead + "exposure&brightness"},
       current},
      {"auto is both",
       {"cameraLens=auto brightness=40"},
       {kSet + "general&camera=auto", kSet + "exposure&brightness=40+40"},
       current},
      // The exposure window and the obscure settings go out whole, from the stored values, whenever
      // one part changes. Weights may be numbers or text holding one; obscure areas are entries
      // separated by ';' or line breaks, each six decimal numbers, sent as "x1,y1,x2,y2,a,b%0A" each.
      {"exposure window (a one-lens camera)",
       {"exposureWindows=custom exposureWindowsWeight='70'", "exposureWindowsDraw=on exposureMode=manual",
        "exposureWbalWindowsWeight=30 sensorGainRange=60", "exposureWbalWindowsWeight=heavy"},
       {kSet + "exposure&ca_exp_window_type=custom&ca_exp_window_weight=70",
        kSet + "exposure&ca_exp_mode=manual&ca_exp_window_type=custom&ca_exp_window_weight=70&ca_exp_window_draw=on",
        kSet + "exposure&ca_exp_mode=manual&ca_exp_window_type=custom&ca_exp_window_weight=70"
               "&ca_wbal_window_weight=30&ca_exp_window_draw=on&ca_gain_max=60",
        kBadValue},
       std::nullopt,
       true},
      {"obscure settings",
       {"obscureImageColor='000000'", "obscureImage=on obscureImageArea='10,10,100,100,0,1; 20, 20,40,40,1,-1'",
        "obscureImageArea=10,10,100,100,0", "obscureImageArea=''"},
       {kSet + "general&obscure_image_area_color=000000",
        kSet + "general&obscure_image=on&obscure_image_area_color=000000"
               "&obscure_image_area=10,10,100,100,0,1%0A20,20,40,40,1,-1%0A",
        kSet + "general&obscure_image=on&obscure_image_area_color=000000", "malformed area '10,10,100,100,0'",
        kSet + "general&obscure_image=on&obscure_image_area_color=000000&obscure_image_area="}},
      {"lens items keep their '+'",
       {"imageMirror=off&rotate=2 nightImprovement='a b'"},
       {kSet + "general&mirror=off%26rotate%3D2+off%26rotate%3D2", kSet + "exposure&ca_night_improve=a%20b+a%20b"}},
      {"descriptions keep ',' and '%0A' of the areas",
       {"obscureImageColor='00 00&x' obscureImageArea=1,2,3,4,5,6 exposureWindows='my windows'"},
       {kSet + "general&obscure_image_area_color=00%2000%26x&obscure_image_area=1,2,3,4,5,6%0A",
        kSet + "exposure&ca_exp_window_type=my%20windows"},
       std::nullopt,
       true},
  };
  for (const Case& c : cases) EXPECT_EQ(sentFor(c, true), c.sent) << c.name;
}

TEST(VideoSettings, CurrentPairsAreFoundPerKey) {
  const Vantrel::LensItems items = {{"brightness", "1"}, {"ca_exp_corr", "1"}, {"red", "1"}};
  const struct {
    const char* body;
    LensPairs pairs;
  } cases[] = {
      {"brightness=30+50\nca_exp_corr=-2+4\n", {{"brightness", {"30", "50"}}, {"ca_exp_corr", {"-2", "4"}}}},
      {"x=1&brightness=7+8&red=1+-1", {{"brightness", {"7", "8"}}, {"red", {"1", "-1"}}}},
      {"ambrightness=1+2\r\nred=3\r\nca_exp_corr=a+b", {}},  // another key's tail, no pair, no numbers
  };
  for (const auto& c : cases) EXPECT_EQ(Vantrel::lensPairsIn(c.body, items), c.pairs) << c.body;
}

}  // namespace
