// Vantrel::VideoSourceVer2: the video channel of cameras whose firmware takes image settings per
// configuration section ("general", "exposure", "color", "jpeg") and which may have one or two
// image sensors. It keeps the whole stream handling of VideoSource and replaces the settings step.
//
// Settings go out as up to four requests "/control/control?set&section=<name>...", one per
// section that the set changes, in the order general, exposure, color, jpeg (VideoSettings builds
// them). Per-lens values of a two-sensor camera are written "first+second"; for one chosen lens
// the other lens's current value is read from the camera first so that it stays as it is.
//
// Threads: doApplySettings and prepareLensCommand run on the channel's worker only (they use
// blocking camera requests); everything else is as in VideoSource.
#pragma once

#include <string>

#include "VideoSource.h"

namespace Vantrel {

class VideoSourceVer2 : public VideoSource {
 public:
  VideoSourceVer2(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t stream, uint32_t channel,
                  Talvo::MFF::IMultimediaFrameFactory* factory, Device* device);

  // Worker thread. The text appended to the set request of `section` for its lens items (the
  // rules are lensText's); the current pairs are read from that section when one lens of two is
  // chosen. A read without an answer is logged and the values go to both lenses.
  std::string prepareLensCommand(const std::string& section, const LensItems& items);

 protected:
  void doApplySettings() override;
  std::string composePath(Talvo::http::HttpSession& session, const SettingsRequest& request) override;

 private:
  bool oneLens_ = false;
};

}  // namespace Vantrel
