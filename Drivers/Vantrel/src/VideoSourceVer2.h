// Vantrel::VideoSourceVer2: the video channel of cameras whose firmware takes image settings per
// configuration section ("general", "exposure", "color", "jpeg") and which may have one or two
// image sensors. It keeps the whole stream handling of VideoSource and replaces the settings step.
#pragma once

#include <string>

#include "VideoSource.h"

namespace Vantrel {

class VideoSourceVer2 : public VideoSource {
 public:
  VideoSourceVer2(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t stream, uint32_t channel,
                  Talvo::MFF::IMultimediaFrameFactory* factory, Device* device);

 protected:
  void doApplySettings() override;

 private:
  bool oneLens_ = false;
};

}  // namespace Vantrel
