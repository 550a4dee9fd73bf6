// The host's image settings as camera control requests, for both kinds of video channel: pure
// functions of the set being applied, the channel's stored values, the chosen lens and, when one
// lens of two is chosen, the pairs the camera holds now. No I/O here: the video sources read the
// current pairs and send the requests.
//
// Per-lens values ("lens items") are written "key=first+second" on a camera with two image
// sensors; every rule for merging a new value with the current pair lives in lensText.
#pragma once

#include <exception>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/Nuvlet/Parameters.h"

namespace Vantrel {

// (camera key, new value as text), in the order the camera expects them.
using LensItems = std::vector<std::pair<std::string, std::string>>;
// The camera's current (first, second) values per key.
using LensPairs = std::map<std::string, std::pair<std::string, std::string>>;

// Which image sensor the lens items are for.
enum class LensChoice {
  Single,  // a one-lens camera: "&key=value"
  Both,    // "&key=value+value"
  Right,   // "&key=value+<current second>"
  Left,    // "&key=<current first>+value"
  Other,   // a lens name without a rule: items the camera has a pair for are left out
};

// From the channel's one-lens flag and the stored "cameraLens" (missing, not a text, "both" or
// "auto" mean both lenses).
LensChoice lensChoiceOf(bool oneLens, const boost::any& cameraLens);

// One camera request of a set: "<prefix><head><lens text><tail>".
struct SettingsRequest {
  std::string prefix;  // "/control/control?set&section=general"
  std::string head;    // "&key=value" pairs before the lens items
  LensItems lensItems;
  std::string tail;         // pairs after the lens items
  std::string lensSection;  // the section the current pairs of the lens items are read from
  // A stored obscure-area entry that was left out as malformed (the caller logs it).
  std::optional<std::string> malformedArea;
};

// True when `request` cannot be written before the camera's current pairs are read.
bool needsCurrentPairs(const SettingsRequest& request, LensChoice lens);
// "/control/control?read&section=<lensSection>&key1&key2...".
std::string currentPairsPath(const SettingsRequest& request);
// The pairs "key=first+second" (optionally signed integers) that the camera's read answer `body`
// holds for the keys of `items`; keys without one are missing from the result.
LensPairs lensPairsIn(const std::string& body, const LensItems& items);
// The text of the lens items. Without `current` (not read, or no good answer) every choice but
// Single writes both lenses alike, as does a key the camera named no pair for.
std::string lensText(const LensItems& items, LensChoice lens, const std::optional<LensPairs>& current);
// The whole path; "" when the set changes nothing of this request.
std::string requestPath(const SettingsRequest& request, const std::string& lensText);

// The requests of one set, in the order they go out.
struct SettingsPlan {
  std::vector<SettingsRequest> requests;
  // Set when building stopped at a value of the wrong type (boost::bad_any_cast): the requests
  // built before it still go out, then this ends the set.
  std::exception_ptr failure;
};

// Classic cameras: the image request, the frame-rate request (when `fps` is in the set) and the
// exposure request.
SettingsPlan classicSettingsPlan(const Talvo::Utility::ParamsMap& set);

// Sectioned cameras: the sections "general", "exposure", "color" and "jpeg". The exposure window
// and the obscure settings are sent whole, from `stored`, when the set changes any part of them.
// `motionJpegValue` is the camera's value of the selected codec, sent when the set holds "codec".
SettingsPlan sectionSettingsPlan(const Talvo::Utility::ParamsMap& set,
                                 const Talvo::Utility::ParametersContainer& stored, const std::string& motionJpegValue);

}  // namespace Vantrel
