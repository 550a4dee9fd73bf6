#include "Device.h"

#include <algorithm>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "AudioDestination.h"
#include "AudioSource.h"
#include "IODevice.h"
#include "IODeviceProfileBasedClassic.h"
#include "IODeviceZl232Gen.h"
#include "TelemetryChannel.h"
#include "MotionDetection.h"
#include "SituationDetection.h"
#include "TemperaturesDetection.h"
#include "ThermalDetection.h"
#include "VideoSource.h"
#include "VideoSourceRTSP.h"
#include "VideoSourceVer2.h"
#include "Nuvlet/include/Contract.h"
#include "Nuvlet/include/ThreadCheck.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/HttpBlocking.h"

namespace Vantrel {

using Talvo::GDRV::DriverInfo;
using Talvo::GDRV::ModelEntry;

namespace {
const char* const kArmingRequest = "/control/control?set&section=eventcontrol&edactiv=enable";
const char* const kLensQuery = "/control/control?read&section=imagecontrol&camera";
const int kRequestTimeoutSeconds = 30;

bool bothLensesIn(const boost::system::error_code& error, const Talvo::http::Body& body,
                  const Talvo::http::HttpResponse& response, const Talvo::LoggerOwner& logger) {
  if (!isDeviceResponseOk(error, body, response, logger, "sending settings", "operator()")) return false;
  static const char kBoth[] = "camera=both";
  return std::search(body.begin(), body.end(), kBoth, kBoth + sizeof(kBoth) - 1) != body.end();
}
}  // namespace

Device::Device(Talvo::GDRV::IDeviceHandler* handler, const ModelEntry& model, const std::string& modelName,
               const std::string& firmware, std::shared_ptr<const DriverInfo> info, boost::shared_ptr<DeviceData> data,
               Talvo::ILogger* logger)
    : Base(handler, model, modelName, firmware, std::move(info), std::move(data), logger) {
  NLOG(deviceLogger(), 0, " Create device: " << modelName << "/" << firmware);
}

Device::~Device() {
  // Nothing may run on the connection thread while the device is torn down.
  stopConnectionThread();
  detectorMngr_.shutdown();
  ioMngr_.shutdown();
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
    case VideoSourceKind::Rtsp:
      return new VideoSourceRTSP(handler, stream, channel, factory, this);
    case VideoSourceKind::None:
      break;
  }
  return nullptr;
}

Talvo::GDRV::IAudioSource* Device::makeAudioSource(Talvo::GDRV::IAudioSourceHandler* handler, uint32_t channel,
                                                   Talvo::MFF::IMultimediaFrameFactory* factory) {
  return AudioSource::create(handler, channel, factory, this);
}

Talvo::GDRV::IIODevice* Device::makeIODevice(Talvo::GDRV::IIODeviceHandler* handler, uint32_t index) {
  switch (chooseIODevice(modelEntry().ioDevices[index].kind)) {
    case IODeviceKind::Classic:
      return new IODevice(handler, index, this);
    case IODeviceKind::Zl232IOBox:
      return IODeviceProfileBased::create<IODeviceZl232IOBox>(handler, index, this);
    case IODeviceKind::ZlBusIO:
      return IODeviceProfileBased::create<IODeviceZlBusIO>(handler, index, this);
    case IODeviceKind::Zl232Gen:
      return IODeviceProfileBased::create<IODeviceZl232Gen>(handler, index, this);
    case IODeviceKind::None:
      break;
  }
  return nullptr;
}

int32_t Device::getFromCamera(const std::string& path, Talvo::ILogger* logger) const {
  Talvo::asio::ConnectionInfo info;
  try {
    info = cameraConnection();
  } catch (const Talvo::asio::ConnectionTextError&) {
    return Talvo::Utility::translateSystemError(Talvo::error::make_error_code(Talvo::error::bad_request));
  }
  return Talvo::http::httpGet(info, path, logger, Talvo::asio::DEFAULT_CONNECT_TIMEOUT);
}

Talvo::GDRV::ITelemetry* Device::makeTelemetry(uint32_t index) { return new TelemetryChannel(index, this); }

Talvo::GDRV::IAudioDestination* Device::makeAudioDestination(Talvo::GDRV::IAudioDestinationHandler* handler,
                                                             uint32_t channel) {
  return new AudioDestination(handler, channel, this);
}

// The detector of the detection type.
Talvo::GDRV::IVideoAnalytics* Device::makeVideoAnalytics(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel,
                                                         const std::string& detectorId) {
  switch (chooseDetector(detectionTypeOf(driverInfo(), detectorId))) {
    case DetectorKind::Motion:
      return BaseDetection::create<MotionDetection>(handler, channel, detectorId, this);
    case DetectorKind::Shock:
      return BaseDetection::create<SituationDetection>(handler, channel, detectorId, "shockDetected", this);
    case DetectorKind::Ir:
      return BaseDetection::create<SituationDetection>(handler, channel, detectorId, "irDetected", this);
    case DetectorKind::Thermal:
      return BaseDetection::create<ThermalDetection>(handler, channel, detectorId, this);
    case DetectorKind::Temperatures:
      return TemperaturesDetection::create(handler, channel, detectorId, this);
    case DetectorKind::None:
      break;
  }
  return nullptr;
}

Talvo::IContract* Device::CreateRecordingExport(const char*) { return nullptr; }

void Device::cancel() {
  {
    std::lock_guard<std::mutex> lock(armingMutex_);
    if (armingRequest_) armingRequest_->cancel();
  }
  ConnectionPolicyDefault::cancel();
}

void Device::enableArming() {
  ArmingState expected = ArmingState::NotRequested;
  if (!armingState_.compare_exchange_strong(expected, ArmingState::Requested)) return;
  Talvo::asio::ConnectionInfo info;
  try {
    info = connectionInfo();
  } catch (const std::exception& e) {
    NLOG(deviceLogger(), 3, " Enable Arming: " << e.what());
    armingState_.store(ArmingState::NotRequested);
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
  NUVLET_DCHECK_CALLED_ON(isCalledFromConnectionThread());
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
  ArmingState requested = ArmingState::Requested;
  armingState_.compare_exchange_strong(requested, ArmingState::NotRequested);
}

bool Device::isBothLensDisplayed() {
  NUVLET_DCHECK_CALLED_ON(!isCalledFromConnectionThread());  // blocking it would stall every device request
  const Talvo::LoggerOwner logger = deviceLogger();
  try {
    const Talvo::asio::ConnectionInfo info = connectionInfo();
    boost::asio::io_context context;
    bool both = false;
    Talvo::http::AsyncOperationPtr operation;
    Talvo::http::asyncGetEx(
        info, kLensQuery, context, kRequestTimeoutSeconds,
        [&](const boost::system::error_code& error, const Talvo::http::Body& body,
            const Talvo::http::HttpResponse& response) { both = bothLensesIn(error, body, response, logger); },
        operation, rawLogger());
    context.run();
    return both;
  } catch (const std::exception& e) {
    NLOG(logger, 3, " Lens query failed: " << e.what());
    return false;
  }
}

void Device::queryBothLensDisplayed(Talvo::http::AsyncOperationPtr& operation, std::function<void(bool)> done) {
  const Talvo::LoggerOwner logger = deviceLogger();
  try {
    Talvo::http::asyncGetEx(
        connectionInfo(), kLensQuery, ioContext(), kRequestTimeoutSeconds,
        [done, logger](const boost::system::error_code& error, const Talvo::http::Body& body,
                       const Talvo::http::HttpResponse& response) {
          done(bothLensesIn(error, body, response, logger));
        },
        operation, rawLogger());
  } catch (const std::exception& e) {
    NLOG(logger, 3, " Lens query failed: " << e.what());
    boost::asio::post(ioContext(), [done] { done(false); });
  }
}

boost::shared_ptr<AudioSource> Device::audioSourceOf(uint32_t channel) const {
  DeviceData& data = *deviceData();
  boost::lock_guard<boost::recursive_mutex> lock(data.mutex);
  const auto found = data.audioSources.find(channel);
  return found == data.audioSources.end() ? boost::shared_ptr<AudioSource>() : found->second;
}

void Device::routeAudio(uint32_t channel, uint32_t stream, const uint8_t* data, size_t size) {
  if (const auto source = audioSourceOf(channel)) source->onAudioFrame(stream, data, size);
}

void Device::audioStreamStarted(uint32_t channel, uint32_t stream) {
  DeviceData& data = *deviceData();
  boost::lock_guard<boost::recursive_mutex> lock(data.mutex);
  data.liveStreams[channel].insert(stream);
}

void Device::audioStreamEnded(uint32_t channel, uint32_t stream) {
  {
    DeviceData& data = *deviceData();
    boost::lock_guard<boost::recursive_mutex> lock(data.mutex);
    auto& streams = data.liveStreams[channel];
    const auto found = streams.find(stream);
    if (found != streams.end()) streams.erase(found);
  }
  // Outside the lock: the source takes its own lock first and asks for the next stream.
  if (const auto source = audioSourceOf(channel)) source->streamEnded(stream);
}

std::optional<uint32_t> Device::nextLiveStream(uint32_t channel, std::optional<uint32_t> after) const {
  DeviceData& data = *deviceData();
  boost::lock_guard<boost::recursive_mutex> lock(data.mutex);
  const auto found = data.liveStreams.find(channel);
  if (found == data.liveStreams.end() || found->second.empty()) return std::nullopt;
  const std::multiset<uint32_t>& streams = found->second;
  if (after) {
    const auto next = streams.upper_bound(*after);
    if (next != streams.end()) return *next;
  }
  return *streams.begin();
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

void Device::registerEventChannel(uint32_t channel) { ioMngr_.registerEventChannel(channel); }

void Device::unregisterEventChannel(uint32_t channel) { ioMngr_.unregisterEventChannel(channel); }

void Device::processEventFrame(uint32_t channel, const std::string& text) { ioMngr_.processEventFrame(channel, text); }

}  // namespace Vantrel
