#include "VideoSourceVer2.h"

#include <optional>

#include "Device.h"

namespace Vantrel {

using Talvo::Utility::ParamsMap;

VideoSourceVer2::VideoSourceVer2(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t stream, uint32_t channel,
                                 Talvo::MFF::IMultimediaFrameFactory* factory, Device* device)
    : VideoSource(handler, stream, channel, factory, device) {
  const auto& channels = device->modelEntry().videoChannels;
  if (channel < channels.size()) oneLens_ = Talvo::GDRV::intProperty(channels[channel].parameters, "isOneLens") > 0;
}

void VideoSourceVer2::doApplySettings() {
  NUVLET_DCHECK_CALLED_ON(onWorkerThread());
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
    CancellableSession session(*this);
    const std::string motionJpeg = Talvo::Utility::getCodecValue(parameters_, device()->driverInfo(), "MJPEG");
    sendSettings(session.get(), sectionSettingsPlan(set, parameters_, motionJpeg), result);
  } catch (const std::exception& e) {
    result = settingsFailure(e, "doApplySettings");
  }
  finishSet(handler, result);
}

// Each section's lens read goes out only after the section before was sent, so that it sees the
// camera as the earlier sections left it.
std::string VideoSourceVer2::composePath(Talvo::http::HttpSession&, const SettingsRequest& request) {
  const std::string lens = prepareLensCommand(request.lensSection, request.lensItems);
  if (request.malformedArea && isLevelEnabled(3))
    log(3, __FILE__, __LINE__, "doApplySettings",
        " Wrong format the parameter Obscure Image Area: '" + *request.malformedArea +
            "' : expected six comma-separated decimal numbers");
  return requestPath(request, lens);
}

std::string VideoSourceVer2::prepareLensCommand(const std::string& section, const LensItems& items) {
  NUVLET_DCHECK_CALLED_ON(onWorkerThread());
  SettingsRequest request;
  request.lensSection = section;
  request.lensItems = items;
  const LensChoice lens = lensChoiceOf(oneLens_, parameters_.getPersistentParam("cameraLens"));
  std::optional<LensPairs> current;
  if (needsCurrentPairs(request, lens)) {
    try {
      CancellableSession session(*this);
      current = readCurrentPairs(session.get(), currentPairsPath(request), items);
    } catch (const std::exception&) {
      NLOG(*this, 3,
           " HTTP error ocured while getting current settings from the device. Same settings will be applyed for "
           "both lens.");
    }
  }
  return lensText(items, lens, current);
}

}  // namespace Vantrel
