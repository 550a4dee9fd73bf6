#include "VideoSourceVer2.h"

#include "Device.h"

namespace Vantrel {

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

void VideoSourceVer2::doApplySettings() { VideoSource::doApplySettings(); }

}  // namespace Vantrel
