#include "Device.h"

#include <algorithm>
#include <cstring>

#include <boost/any.hpp>
#include <boost/asio/io_context.hpp>

#include "AudioSource.h"
#include "VideoSource.h"
#include "VideoSourceVer2.h"
#include "Nuvlet/include/Contract.h"
#include "host/Nuvlet/ErrorCodes.h"

namespace Vantrel {

using Talvo::GDRV::DriverInfo;
using Talvo::GDRV::ModelEntry;

namespace {
const char* const kArmingRequest = "/control/control?set&section=eventcontrol&edactiv=enable";
const char* const kLensQuery = "/control/control?read&section=imagecontrol&camera";
const int kRequestTimeoutSeconds = 30;

bool streamHasH264(const DriverInfo& info, const std::string& description) {
  const auto codecs = info.streamCodecs.find(description);
  for (const auto& id : codecs->second) {
    const auto codec = info.codecs.find(id);
    if (codec != info.codecs.end() && codec->second.name == "H264") return true;
  }
  return false;
}

bool isVersion2(const ModelEntry& model) {
  const auto* version =
      dynamic_cast<const Talvo::GDRV::PropertyInt*>(Talvo::GDRV::findProperty(model.properties, "version"));
  return version && version->value == 2;
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

int getZeltaFrameKind(const uint8_t* data, size_t size) {
  if (data == nullptr || size < 7 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF) return 0;
  size_t marker = 2;  // offset of the FF of the current marker
  for (;;) {
    const uint8_t code = data[marker + 1];
    if (code == 0xDB || code == 0xC4) return 1;
    if (code == 0xDA) return 2;
    // The segment length follows the marker; marker + 3 < size - 4 holds on every pass.
    const size_t length = (size_t(data[marker + 2]) << 8) | data[marker + 3];
    const size_t next = marker + 2 + length;
    if (next >= size - 4 || data[next] != 0xFF) return 0;
    marker = next;
  }
}

namespace {
bool checkResponse(const boost::system::error_code& error, bool bodyEmpty, const Talvo::http::HttpResponse& response,
                   const Talvo::LoggerOwner& logger, const std::string& requestName, const char* function) {
  if (error) {
    if (logger.isLevelEnabled(3))
      logger.log(3, __FILE__, __LINE__, function,
                 " HTTP request is finished with error: " + error.message() + ", request: " + requestName);
    return Talvo::Utility::translateSystemError(error) == 0;
  }
  if (!response.isSuccess()) {
    if (logger.isLevelEnabled(3))
      logger.log(3, __FILE__, __LINE__, function,
                 " HTTP response has error: " + response.statusText + ", request: " + requestName);
    return Talvo::http::translateResponseError(response) == 0;
  }
  if (bodyEmpty) {
    if (logger.isLevelEnabled(3))
      logger.log(3, __FILE__, __LINE__, function, " HTTP responce is empty, request: " + requestName);
    return false;
  }
  return true;
}
}  // namespace

bool isDeviceResponseOk(const boost::system::error_code& error, const std::string& body,
                        const Talvo::http::HttpResponse& response, const Talvo::LoggerOwner& logger,
                        const std::string& requestName, const char* function) {
  return checkResponse(error, body.empty(), response, logger, requestName, function);
}

bool isDeviceResponseOk(const boost::system::error_code& error, const Talvo::http::Body& body,
                        const Talvo::http::HttpResponse& response, const Talvo::LoggerOwner& logger,
                        const std::string& requestName, const char* function) {
  return checkResponse(error, body.empty(), response, logger, requestName, function);
}

Device::Device(Talvo::GDRV::IDeviceHandler* handler, const ModelEntry& model, const std::string& modelName,
               const std::string& firmware, std::shared_ptr<const DriverInfo> info, boost::shared_ptr<DeviceData> data,
               Talvo::ILogger* logger)
    : Base(handler, model, modelName, firmware, std::move(info), std::move(data), logger) {
  NLOG(deviceLogger(), 0, " Create device: " << modelName << "/" << firmware);
}

Device::~Device() {
  // Nothing may run on the connection thread while the device is torn down.
  stopConnectionThread();
  std::lock_guard<std::mutex> lock(armingMutex_);
  armingRequest_.reset();
}

void* Device::QueryContract(const char* typeName) {
  using namespace Talvo::Utility;
  return castTo<Path<Talvo::IContract, Talvo::GDRV::IDevice>, Path<Talvo::GDRV::IDevice>,
                Path<Talvo::GDRV::IStorageDevice>>(this, typeName);
}

Talvo::GDRV::IVideoSource* Device::CreateVideoSource(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t channel,
                                                     uint32_t stream, Talvo::MFF::IMultimediaFrameFactory* factory) {
  std::string badAnyCast;
  const VideoSourceKind kind = chooseVideoSource(modelEntry(), driverInfo(), channel, stream, &badAnyCast);
  if (!badAnyCast.empty()) NLOG(deviceLogger(), 3, " Bad any cast: " << badAnyCast);
  switch (kind) {
    case VideoSourceKind::Classic:
      return new VideoSource(handler, stream, channel, factory, this);
    case VideoSourceKind::Ver2:
      return new VideoSourceVer2(handler, stream, channel, factory, this);
    case VideoSourceKind::Rtsp:  // the RTSP source is not offered yet
    case VideoSourceKind::None:
      break;
  }
  return nullptr;
}

Talvo::GDRV::IAudioSource* Device::makeAudioSource(Talvo::GDRV::IAudioSourceHandler* handler, uint32_t channel,
                                                   Talvo::MFF::IMultimediaFrameFactory* factory) {
  return AudioSource::create(handler, channel, factory, this);
}

// The I/O classes (chosen by kind name, chooseIODevice) are not offered yet.
Talvo::GDRV::IIODevice* Device::makeIODevice(Talvo::GDRV::IIODeviceHandler*, uint32_t) { return nullptr; }

Talvo::GDRV::ITelemetry* Device::makeTelemetry(uint32_t) { return nullptr; }

Talvo::GDRV::IAudioDestination* Device::makeAudioDestination(Talvo::GDRV::IAudioDestinationHandler*, uint32_t) {
  return nullptr;
}

// The detectors (chosen by detection type, chooseDetector) are not offered yet.
Talvo::GDRV::IVideoAnalytics* Device::makeVideoAnalytics(Talvo::GDRV::IVideoAnalyticsHandler*, uint32_t,
                                                         const std::string&) {
  return nullptr;
}

void Device::RequestRecordingsInfo(Talvo::GDRV::IRecordingsInfoHandler* handler) {
  if (handler) handler->Failed(this, 8);
}

void Device::RequestRecordingInfo(const char*, Talvo::GDRV::ISingleRecordingInfoHandler* handler) {
  if (handler) handler->Failed(this, 8);
}

Talvo::GDRV::IRecordingSearch* Device::CreateRecordingSearch(const char*) { return nullptr; }

Talvo::IContract* Device::CreateRecordingExport(const char*) { return nullptr; }

Talvo::GDRV::IRecordingPlayback* Device::CreateRecordingPlayback(const char*, Talvo::MFF::IMultimediaFrameFactory*,
                                                                 Talvo::GDRV::Storage::ITrackIdEnumerator*,
                                                                 Talvo::GDRV::IRecordingPlaybackHandler*) {
  return nullptr;
}

void Device::cancel() {
  {
    std::lock_guard<std::mutex> lock(armingMutex_);
    if (armingRequest_) armingRequest_->cancel();
  }
  ConnectionPolicyDefault::cancel();
}

void Device::enableArming() {
  int expected = 0;
  if (!armingState_.compare_exchange_strong(expected, 1)) return;
  Talvo::asio::ConnectionInfo info;
  try {
    info = connectionInfo();
  } catch (const std::exception& e) {
    NLOG(deviceLogger(), 3, " Enable Arming: " << e.what());
    armingState_.store(0);
    return;
  }
  std::lock_guard<std::mutex> lock(armingMutex_);
  Talvo::http::asyncGetEx(
      info, kArmingRequest, ioContext(), kRequestTimeoutSeconds,
      [this](const boost::system::error_code& error, const Talvo::http::Body& body,
             const Talvo::http::HttpResponse& response) { finishArming(error, body, response); },
      armingRequest_, rawLogger());
}

void Device::finishArming(const boost::system::error_code& error, const Talvo::http::Body& body,
                          const Talvo::http::HttpResponse& response) {
  {
    std::lock_guard<std::mutex> lock(armingMutex_);
    armingRequest_.reset();
  }
  const Talvo::LoggerOwner logger = deviceLogger();
  if (isDeviceResponseOk(error, body, response, logger, "Enable Arming", "operator()")) {
    if (logger.isLevelEnabled(0))
      logger.log(0, __FILE__, __LINE__, "operator()", " Enable Arming finished successfully");
    return;
  }
  int requested = 1;
  armingState_.compare_exchange_strong(requested, 0);
}

bool Device::isBothLensDisplayed() {
  const Talvo::LoggerOwner logger = deviceLogger();
  try {
    const Talvo::asio::ConnectionInfo info = connectionInfo();
    boost::asio::io_context context;
    bool both = false;
    Talvo::http::AsyncOperationPtr operation;
    Talvo::http::asyncGetEx(
        info, kLensQuery, context, kRequestTimeoutSeconds,
        [&](const boost::system::error_code& error, const Talvo::http::Body& body,
            const Talvo::http::HttpResponse& response) {
          if (!isDeviceResponseOk(error, body, response, logger, "sending settings", "operator()")) return;
          static const char kBoth[] = "camera=both";
          both = std::search(body.begin(), body.end(), kBoth, kBoth + sizeof(kBoth) - 1) != body.end();
        },
        operation, rawLogger());
    context.run();
    return both;
  } catch (const std::exception& e) {
    NLOG(logger, 3, " Lens query failed: " << e.what());
    return false;
  }
}

boost::shared_ptr<AudioSource> Device::audioSourceOf(uint32_t channel) const {
  DeviceData& data = *deviceData();
  boost::lock_guard<boost::recursive_mutex> lock(data.mutex);
  const auto found = data.audioSources.find(channel);
  return found == data.audioSources.end() ? boost::shared_ptr<AudioSource>() : found->second;
}

void Device::routeAudio(uint32_t channel, const uint8_t* data, size_t size) {
  if (const auto source = audioSourceOf(channel)) source->onAudioFrame(data, size);
}

void Device::applyAudioSettings(uint32_t channel) {
  if (const auto source = audioSourceOf(channel)) source->applyPendingSettings();
}

bool Device::registerAudioSource(uint32_t channel, const boost::shared_ptr<AudioSource>& source) {
  DeviceData& data = *deviceData();
  boost::lock_guard<boost::recursive_mutex> lock(data.mutex);
  return data.audioSources.emplace(channel, source).second;
}

void Device::unregisterAudioSource(uint32_t channel, const AudioSource* source) {
  boost::shared_ptr<AudioSource> removed;  // released after the lock
  DeviceData& data = *deviceData();
  boost::lock_guard<boost::recursive_mutex> lock(data.mutex);
  const auto found = data.audioSources.find(channel);
  if (found == data.audioSources.end() || found->second.get() != source) return;
  removed = found->second;
  data.audioSources.erase(found);
}

void Device::registerEventChannel(uint32_t) {}

void Device::unregisterEventChannel(uint32_t) {}

void Device::processEventFrame(uint32_t channel, const std::string& text) {
  // The I/O event manager reads the camera's event data from this text; until it is offered the
  // section is only acknowledged.
  NLOG(deviceLogger(), 0, " Event section of channel " << channel << ", " << text.size() << " bytes");
}

}  // namespace Vantrel
