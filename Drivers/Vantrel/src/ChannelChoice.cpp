#include "ChannelChoice.h"

#include <boost/any.hpp>

namespace Vantrel {

using Talvo::GDRV::DriverInfo;
using Talvo::GDRV::ModelEntry;

namespace {

bool streamHasH264(const DriverInfo& info, const std::string& description) {
  const auto codecs = info.streamCodecs.find(description);
  for (const auto& id : codecs->second) {
    const auto codec = info.codecs.find(id);
    if (codec != info.codecs.end() && codec->second.name == "H264") return true;
  }
  return false;
}

bool isVersion2(const ModelEntry& model) {
  return Talvo::GDRV::intProperty(model.properties, "version") == 2;
}

}  // namespace

VideoSourceKind chooseVideoSource(const ModelEntry& model, const DriverInfo& info, uint32_t channel, uint32_t stream,
                                  std::string* badAnyCast) {
  if (channel >= model.videoChannels.size() || stream >= model.videoChannels[channel].streams.size())
    return VideoSourceKind::None;
  const std::string& description = model.videoChannels[channel].streams[stream].description;
  if (info.streamCodecs.find(description) == info.streamCodecs.end()) return VideoSourceKind::None;
  if (streamHasH264(info, description)) return VideoSourceKind::Rtsp;
  try {
    return isVersion2(model) ? VideoSourceKind::Ver2 : VideoSourceKind::Classic;
  } catch (const boost::bad_any_cast& e) {
    if (badAnyCast) *badAnyCast = e.what();
    return VideoSourceKind::Classic;
  }
}

IODeviceKind chooseIODevice(const std::string& kindName) {
  if (kindName == "iodev_3x1") return IODeviceKind::Classic;
  if (kindName == "iodev_ZL_232_IO_Box") return IODeviceKind::Zl232IOBox;
  if (kindName == "iodev_ZL_Bus_IO") return IODeviceKind::ZlBusIO;
  if (kindName == "iodev_ZL_232_IO_Box_Gen") return IODeviceKind::Zl232Gen;
  return IODeviceKind::None;
}

std::string detectionTypeOf(const DriverInfo& info, const std::string& detectorId) {
  const auto detector = info.detectors.find(detectorId);
  if (detector == info.detectors.end()) return detectorId;
  const auto* type = dynamic_cast<const Talvo::GDRV::PropertyString*>(
      Talvo::GDRV::findProperty(detector->second.properties, "detectionType"));
  return type ? type->value : detectorId;
}

DetectorKind chooseDetector(const std::string& detectionType) {
  if (detectionType == "motion_detection") return DetectorKind::Motion;
  if (detectionType == "shock_detection") return DetectorKind::Shock;
  if (detectionType == "ir_detection") return DetectorKind::Ir;
  if (detectionType == "thermal_detection") return DetectorKind::Thermal;
  if (detectionType == "temperatures") return DetectorKind::Temperatures;
  return DetectorKind::None;
}

}  // namespace Vantrel
