// The device template: one camera as the host sees it, built on a connection policy. It checks
// the host's channel indices against the model entry and leaves the choice of channel classes to
// the maker's device through the make* hooks.
//
// Threads: factories are called from host threads and only read the immutable DriverInfo.
// Connect/Disconnect return at once; the connection policy works on the device's own thread.
// Destroy drains and joins that thread before the object goes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Nuvlet/include/Contract.h"
#include "host/DriverInfo.h"
#include "host/GDRV.h"
#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/ConnectionPolicy.h"
#include "host/Nuvlet/Logging.h"

namespace Talvo {
namespace Utility {

template <class DataPtr, class Policy>
class Device : public Policy {
 public:
  using DeviceDataPtr = DataPtr;

  Device(GDRV::IDeviceHandler* handler, const GDRV::ModelEntry& model, const std::string& modelName,
         const std::string& firmware, std::shared_ptr<const GDRV::DriverInfo> info, DataPtr data, ILogger* logger)
      : Policy(handler, logger),
        model_(model),
        info_(std::move(info)),
        firmware_(firmware),
        modelName_(modelName),
        data_(std::move(data)) {}
  ~Device() override { this->stopConnectionThread(); }

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return castTo<Path<IContract, GDRV::IDevice>, Path<GDRV::IDevice>>(this, typeName);
  }

  void Connect(const char* address) override { this->connect(address ? address : ""); }
  void Disconnect() override { this->disconnect(); }
  void Destroy() override { delete this; }

  GDRV::IVideoSource* CreateVideoSource(GDRV::IVideoSourceHandler* handler, uint32_t channel, uint32_t stream,
                                        MFF::IMultimediaFrameFactory* factory) override {
    if (!isVideoIndexValid(channel, stream)) return nullptr;
    return makeVideoSource(handler, channel, stream, factory);
  }
  GDRV::IAudioSource* CreateAudioSource(GDRV::IAudioSourceHandler* handler, uint32_t channel,
                                        MFF::IMultimediaFrameFactory* factory) override {
    if (!isIndexValid(model_.audioSources, channel)) return nullptr;
    return makeAudioSource(handler, channel, factory);
  }
  GDRV::IAudioDestination* CreateAudioDestination(GDRV::IAudioDestinationHandler* handler, uint32_t channel) override {
    if (!isIndexValid(model_.audioDestinations, channel)) return nullptr;
    return makeAudioDestination(handler, channel);
  }
  GDRV::IIODevice* CreateIODevice(GDRV::IIODeviceHandler* handler, uint32_t index) override {
    if (!isIndexValid(model_.ioDevices, index)) return nullptr;
    return makeIODevice(handler, index);
  }
  GDRV::ITelemetry* CreateTelemetry(uint32_t index) override {
    if (!isIndexValid(model_.telemetries, index)) return nullptr;
    return makeTelemetry(index);
  }
  GDRV::IDeviceChannel* CreateTextEventSource(GDRV::IAsyncDeviceChannelHandler*, uint32_t index) override {
    isIndexValid(model_.textEventSources, index);
    return nullptr;
  }
  GDRV::IVideoAnalytics* CreateVideoAnalytics(GDRV::IVideoAnalyticsHandler* handler, uint32_t channel,
                                              const char* detectorId) override {
    const std::string id = detectorId ? detectorId : "";
    NLOG(this->deviceLogger(), 0, " Creating videoAnalytic detectorID='" << id << "' for " << identityText());
    if (!isGeneric()) {
      if (channel >= model_.videoChannels.size() || detectorId == nullptr) {
        NLOG(this->deviceLogger(), 3,
             " Can't create videoAnalytic channel=" << channel << " detectorID='" << id << "'");
        return nullptr;
      }
      if (!modelHasDetector(id)) {
        NLOG(this->deviceLogger(), 3, " Can't create videoAnalytic detectorID='" << id << "' not defined for device");
        return nullptr;
      }
    }
    return makeVideoAnalytics(handler, channel, id);
  }
  IContract* CreateAudioAnalytics(IContract*, uint32_t, const char*) override { return nullptr; }
  IContract* CreateMetadataSource(IContract*, uint32_t) override { return nullptr; }

  const GDRV::ModelEntry& modelEntry() const { return model_; }
  const GDRV::DriverInfo& driverInfo() const { return *info_; }
  const std::string& firmware() const { return firmware_; }
  const std::string& modelName() const { return modelName_; }
  const DataPtr& deviceData() const { return data_; }
  // The catch-all model accepts every channel index.
  bool isGeneric() const {
    for (const auto& identity : model_.identities)
      if (identity.model == "generic") return true;
    return false;
  }

 protected:
  // Channel classes of the maker; each is called after the index check passed.
  virtual GDRV::IVideoSource* makeVideoSource(GDRV::IVideoSourceHandler*, uint32_t, uint32_t,
                                              MFF::IMultimediaFrameFactory*) {
    return nullptr;
  }
  virtual GDRV::IAudioSource* makeAudioSource(GDRV::IAudioSourceHandler*, uint32_t, MFF::IMultimediaFrameFactory*) {
    return nullptr;
  }
  virtual GDRV::IAudioDestination* makeAudioDestination(GDRV::IAudioDestinationHandler*, uint32_t) { return nullptr; }
  virtual GDRV::IIODevice* makeIODevice(GDRV::IIODeviceHandler*, uint32_t) { return nullptr; }
  virtual GDRV::ITelemetry* makeTelemetry(uint32_t) { return nullptr; }
  // The generic analytics channel is not offered; makers choose their detectors.
  virtual GDRV::IVideoAnalytics* makeVideoAnalytics(GDRV::IVideoAnalyticsHandler*, uint32_t, const std::string&) {
    return nullptr;
  }
  // Called on the connection thread when the policy connects (nothing by default).
  virtual void onConnectionHook() {}

  template <class List>
  bool isIndexValid(const List& list, uint32_t index) const {
    return isGeneric() || index < list.size();
  }
  bool isVideoIndexValid(uint32_t channel, uint32_t stream) const {
    if (isGeneric()) return true;
    return channel < model_.videoChannels.size() && stream < model_.videoChannels[channel].streams.size();
  }

 private:
  bool modelHasDetector(const std::string& id) const {
    for (const auto& known : model_.detectors)
      if (known == id) return true;
    return false;
  }
  // "vendor/model/first firmware" of the entry's first identity.
  std::string identityText() const {
    if (model_.identities.empty()) return "//";
    const auto& identity = model_.identities.front();
    return identity.vendor + "/" + identity.model + "/" +
           (identity.firmware.empty() ? std::string() : identity.firmware.front());
  }

  const GDRV::ModelEntry& model_;
  std::shared_ptr<const GDRV::DriverInfo> info_;
  std::string firmware_;
  std::string modelName_;
  DataPtr data_;
};

}  // namespace Utility
}  // namespace Talvo
