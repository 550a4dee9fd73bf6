// The settings builders: the sets a host applies in turn, in; the camera requests (a lens read
// before the request that needs it), out, with the camera's current lens pairs given.
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

// Two lenses whose current pairs the camera does not give (no good answer to the read) or gives
// (kCurrent); one lens.
enum Lenses { Two, TwoAnswered, One };
const LensPairs kCurrent = {{"brightness", {"30", "50"}}, {"ca_exp_corr", {"-2", "4"}}};

struct Case {
  const char* name;
  std::vector<std::string> sets;  // "name=value ...", see setOf
  std::vector<std::string> sent;
  Lenses lenses = Two;
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
// its lens read), then the failure that stopped the building.
std::vector<std::string> sentFor(const Case& c, bool sectioned) {
  Talvo::Utility::ParametersContainer stored;
  std::vector<std::string> sent;
  for (const std::string& text : c.sets) {
    const Talvo::Utility::ParamsMap set = setOf(text);
    stored.updateParams(set);
    const auto plan = sectioned ? Vantrel::sectionSettingsPlan(set, stored, "1") : Vantrel::classicSettingsPlan(set);
    const LensChoice lens = Vantrel::lensChoiceOf(c.lenses == One, stored.getPersistentParam("cameraLens"));
    for (const auto& request : plan.requests) {
      const bool read = Vantrel::needsCurrentPairs(request, lens);
      if (read) sent.push_back(Vantrel::currentPairsPath(request));
      const auto current = read && c.lenses == TwoAnswered ? std::optional<LensPairs>(kCurrent) : std::nullopt;
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
      // A host's text is percent-encoded ("&", "=", "+", blanks); our own separators ("+" between
      // lenses, "," and "%0A" in obscure areas) stay.
      {"plain pairs, the tail and the exposure request",
       {"resolution=640x480&quality=1 displayMode='dual view' cameraLens=a+b", "nightImprovement=on&ca_exp_max=9"},
       {kImage + "&size=640x480%26quality%3D1&display_mode=dual%20view&camera=a%2Bb",
        kSet + "exposurecontrol&ca_night_improve=on%26ca_exp_max%3D9"},
       One},
  };
  for (const Case& c : cases) EXPECT_EQ(sentFor(c, false), c.sent) << c.name;
}

TEST(VideoSettings, SectionedCameras) {
  const Case cases[] = {
      {"one request per section, in order",
       {"fps=12 resolution=640x480 imageFlip=1 flickerfree=60 brightness=40 saturation=5 codec=mjpeg compression=3"},
       {kSet + "general&size=640x480&framerate100=1200&rotate=1+1", kSet + "exposure&ca_linefreq=60&brightness=40+40",
        kSet + "color&color=5+5", kSet + "jpeg&motionjpeg=1&quality=70"}},
      {"a one-lens camera gets single values; untouched sections get no request",
       {"brightness=40", "fps=12 sharpness=3 displayMode=dual"},
       {kSet + "exposure&brightness=40", kSet + "general&framerate100=1200&sharpen=3&display_mode=dual"},
       One},
      {"colour and quality",
       {"whiteBalance=2 redGain=7 blueGain=-3 autoSaturationControl=40", "quality=85"},
       {kSet + "color&wb_profile=2+2&red=7+7&blue=-3+-3&color_dark_percent=40+40", kSet + "jpeg&quality=85"}},
      {"nothing to send", {""}, {}},
      // One lens of two, the other keeping its value or, without a good answer, both alike.
      {"the left lens, several keys",
       {"cameraLens=left brightness=40 exposure=1"},
       {kSet + "general&camera=left", kRead + "exposure&ca_exp_corr&brightness",
        kSet + "exposure&ca_exp_corr=-2+1&brightness=30+40"},
       TwoAnswered},
      {"a key the camera names no pair for goes to both lenses",
       {"cameraLens=right backlight=2"},
       {kSet + "general&camera=right", kRead + "exposure&backlight", kSet + "exposure&backlight=2+2"},
       TwoAnswered},
      {"another lens name leaves the keys with a pair out",
       {"cameraLens=top brightness=40"},
       {kSet + "general&camera=top", kRead + "exposure&brightness"},
       TwoAnswered},
      {"auto is both",
       {"cameraLens=auto brightness=40"},
       {kSet + "general&camera=auto", kSet + "exposure&brightness=40+40"},
       TwoAnswered},
      // The exposure window and obscure settings go out whole whenever one part changes. Weights are
      // numbers or text holding one; areas are six numbers each, split by ';' or line breaks.
      {"exposure window (a one-lens camera)",
       {"exposureWindows=custom exposureWindowsWeight='70'", "exposureWindowsDraw=on exposureMode=manual",
        "exposureWbalWindowsWeight=30 sensorGainRange=60", "exposureWbalWindowsWeight=heavy"},
       {kSet + "exposure&ca_exp_window_type=custom&ca_exp_window_weight=70",
        kSet + "exposure&ca_exp_mode=manual&ca_exp_window_type=custom&ca_exp_window_weight=70&ca_exp_window_draw=on",
        kSet + "exposure&ca_exp_mode=manual&ca_exp_window_type=custom&ca_exp_window_weight=70"
               "&ca_wbal_window_weight=30&ca_exp_window_draw=on&ca_gain_max=60",
        kBadValue},
       One},
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
       One},
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
