// Vantrel::VideoSourceVer2: the video channel of cameras whose firmware takes image settings per
// configuration section ("general", "exposure", "color", "jpeg") and which may have one or two
// image sensors. It keeps the whole stream handling of VideoSource and replaces the settings step.
//
// Settings go out as up to four requests "/control/control?set&section=<name>...", one per
// section that the set changes, in the order general, exposure, color, jpeg. Per-lens values of
// a two-sensor camera are written "first+second"; for one chosen lens the other lens's current
// value is read from the camera first so that it stays as it is.
//
// Threads: doApplySettings and prepareLensCommand run on the channel's worker only (they use
// blocking camera requests); everything else is as in VideoSource.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "VideoSource.h"

namespace Vantrel {

class VideoSourceVer2 : public VideoSource {
 public:
  using LensItems = VideoSource::LensItems;

  VideoSourceVer2(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t stream, uint32_t channel,
                  Talvo::MFF::IMultimediaFrameFactory* factory, Device* device);

  // Worker thread. The text appended to the set request of `section` for its lens items
  // (camera key, new value):
  //  - one-lens camera: "&key=value";
  //  - stored "cameraLens" missing, "both" or "auto": "&key=value+value";
  //  - "right" / "left": the camera's current pairs are read and the other lens keeps its value
  //    ("&key=new+second" / "&key=first+new"); another lens name leaves the items out. When the
  //    camera gives no good answer the value goes to both lenses.
  std::string prepareLensCommand(const std::string& section, const LensItems& items);

 protected:
  void doApplySettings() override;

 private:
  using LensPairs = std::map<std::string, std::pair<std::string, std::string>>;

  // The text each section's set request carries after "section=<name>"; "" when the set changes
  // nothing of it. Values of a wrong type raise boost::bad_any_cast.
  std::string generalSettings(const Talvo::Utility::ParamsMap& set);
  std::string exposureSettings(const Talvo::Utility::ParamsMap& set);
  std::string colorSettings(const Talvo::Utility::ParamsMap& set);
  std::string jpegSettings(const Talvo::Utility::ParamsMap& set);
  // The stored obscure settings, when the set changes any of them.
  std::string obscureSettings(const Talvo::Utility::ParamsMap& set);
  // The stored exposure-window description, when the set changes any part of it.
  void addExposureWindows(const Talvo::Utility::ParamsMap& set, LensItems& items) const;
  // The camera's form of the stored area list; nothing (and a log line) when an entry is malformed.
  std::optional<std::string> obscureAreaText(const std::string& stored);
  void sendSection(Talvo::http::HttpSession& session, const std::string& section, const std::string& text, int& result);
  // The current pairs of `items` in `section`; nothing when the camera answers with an error
  // status. Throws boost::system::system_error when no answer comes.
  std::optional<LensPairs> readCurrentPairs(const std::string& section, const LensItems& items);

  bool oneLens_ = false;
};

}  // namespace Vantrel
