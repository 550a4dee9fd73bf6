// Vantrel::Device: one camera. It creates the channel that ChannelChoice names for every factory
// call of the host, arms the camera's event system, answers the lens query and routes audio found
// inside video streams to the audio channel of the same camera channel.
//
// Threads: factories run on host threads; camera requests of the device and its timers run on
// the device's connection thread; audio routing runs on the video workers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "ChannelChoice.h"
#include "DetectorMngr.h"
#include "DeviceData.h"
#include "EventStream.h"
#include "IODeviceProfileBasedMngr.h"
#include "RecordingList.h"
#include "ResponseCheck.h"
#include "Nuvlet/include/Device.h"
#include "host/Nuvlet/ConnectionPolicy.h"
#include "host/Nuvlet/Http.h"

namespace Vantrel {

class AudioSource;

class Device : public Talvo::Utility::Device<boost::shared_ptr<DeviceData>, Talvo::Utility::ConnectionPolicyDefault> {
 public:
  using Base = Talvo::Utility::Device<boost::shared_ptr<DeviceData>, Talvo::Utility::ConnectionPolicyDefault>;

  // Logs " Create device: <model>/<firmware>" at level 0.
  Device(Talvo::GDRV::IDeviceHandler* handler, const Talvo::GDRV::ModelEntry& model, const std::string& modelName,
         const std::string& firmware, std::shared_ptr<const Talvo::GDRV::DriverInfo> info,
         boost::shared_ptr<DeviceData> data, Talvo::ILogger* logger);
  ~Device() override;

  void* QueryContract(const char* typeName) override;

  Talvo::GDRV::IVideoSource* CreateVideoSource(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t channel,
                                               uint32_t stream, Talvo::MFF::IMultimediaFrameFactory* factory) override;

  // Storage: the recordings on the camera.
  void RequestRecordingsInfo(Talvo::GDRV::IRecordingsInfoHandler* handler) override;
  void RequestRecordingInfo(const char* recordingId, Talvo::GDRV::ISingleRecordingInfoHandler* handler) override;
  Talvo::GDRV::IRecordingSearch* CreateRecordingSearch(const char* recordingId) override;
  Talvo::IContract* CreateRecordingExport(const char* recordingId) override;
  Talvo::GDRV::IRecordingPlayback* CreateRecordingPlayback(const char* recordingId,
                                                           Talvo::MFF::IMultimediaFrameFactory* factory,
                                                           Talvo::GDRV::Storage::ITrackIdEnumerator* tracks,
                                                           Talvo::GDRV::IRecordingPlaybackHandler* handler) override;

  // Asks the camera to switch its event system on; at most one request at a time, sent again
  // on the next call after a failure. Any thread.
  void enableArming();
  // Blocking: true when the camera shows both lenses. Any thread but the connection thread.
  bool isBothLensDisplayed();
  // The same question without blocking: `done` gets the answer on the connection thread (false
  // when the camera cannot tell or the request was cancelled through `operation`).
  void queryBothLensDisplayed(Talvo::http::AsyncOperationPtr& operation, std::function<void(bool)> done);

  // Audio routing for the video workers. The map lock is held only for the lookup. Each stream
  // of a channel carries the camera's one microphone: the audio source takes the blocks of one.
  void routeAudio(uint32_t channel, uint32_t stream, const uint8_t* data, size_t size);
  // A video worker of `stream` begins or ends its session (between them it may route audio).
  void audioStreamStarted(uint32_t channel, uint32_t stream);
  void audioStreamEnded(uint32_t channel, uint32_t stream);
  // The first running stream of `channel` after `after` (in stream order, wrapping round; the
  // lowest without `after`); nothing when none runs. Any thread.
  std::optional<uint32_t> nextLiveStream(uint32_t channel, std::optional<uint32_t> after) const;
  void applyAudioSettings(uint32_t channel);
  // Registers `source` under `channel` unless a source is registered there already.
  bool registerAudioSource(uint32_t channel, const boost::shared_ptr<AudioSource>& source);
  // Removes the entry of `channel` only if it is `source`.
  void unregisterAudioSource(uint32_t channel, const AudioSource* source);

  // The I/O event hook: event sections found in the video stream of `channel` go to the I/O
  // manager. Video workers.
  void registerEventChannel(uint32_t channel);
  void unregisterEventChannel(uint32_t channel);
  void processEventFrame(uint32_t channel, const std::string& text);

  // The camera's connection information; throws Talvo::asio::ConnectionTextError.
  Talvo::asio::ConnectionInfo cameraConnection() const { return connectionInfo(); }
  // One blocking GET of `path` with the connect time-out, on the calling thread: 0 or the
  // request's result code, 265 when the connection text cannot be read. `logger` may be null.
  int32_t getFromCamera(const std::string& path, Talvo::ILogger* logger) const;

  // The detectors' manager; its operations run on the connection thread.
  DetectorMngr& detectorManager() { return detectorMngr_; }
  // The camera's event stream, shared by the temperatures channels.
  EventStreamHolder& eventStreams() { return eventStreams_; }
  // The profile-based I/O boards' manager.
  IODeviceProfileBasedMngr& ioManager() { return ioMngr_; }

  // ---- Edge storage (DeviceStorage.cpp): any thread calls, callbacks run on the connection thread.
  using recording_t = Recording;
  using StorageSpanCallback = std::function<void(int32_t code, const Talvo::GDRV::DateTimeRange& range)>;
  using RecordingsCallback = std::function<void(int32_t code, const std::vector<recording_t>& found)>;
  // The span the camera's storage holds ("/control/event.jpg?output=evtinfo").
  void getDeviceRecordings(StorageSpanCallback callback);
  // One event-list request (`path` is the whole request): the sequences it lists, newest first.
  void requestRecordings(const std::string& path, RecordingsCallback callback);

 protected:
  void cancel() override;
  Talvo::GDRV::IAudioSource* makeAudioSource(Talvo::GDRV::IAudioSourceHandler* handler, uint32_t channel,
                                             Talvo::MFF::IMultimediaFrameFactory* factory) override;
  Talvo::GDRV::IIODevice* makeIODevice(Talvo::GDRV::IIODeviceHandler* handler, uint32_t index) override;
  Talvo::GDRV::ITelemetry* makeTelemetry(uint32_t index) override;
  Talvo::GDRV::IAudioDestination* makeAudioDestination(Talvo::GDRV::IAudioDestinationHandler* handler,
                                                       uint32_t channel) override;
  Talvo::GDRV::IVideoAnalytics* makeVideoAnalytics(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel,
                                                   const std::string& detectorId) override;

 private:
  boost::shared_ptr<AudioSource> audioSourceOf(uint32_t channel) const;
  // Edge storage: a GET of `path` started on the connection thread; the callback runs there.
  void storageGet(const std::string& path, Talvo::http::Callback callback);
  bool logStorageSpan(const Talvo::GDRV::DateTimeRange& range) const;
  // Connection thread: the answer to the arming request.
  void finishArming(const boost::system::error_code& error, const Talvo::http::Body& body,
                    const Talvo::http::HttpResponse& response);

  enum class ArmingState { NotRequested, Requested };  // Requested: on its way or done; a failure goes back
  std::atomic<ArmingState> armingState_{ArmingState::NotRequested};
  std::mutex armingMutex_;
  Talvo::http::AsyncOperationPtr armingRequest_;
  DetectorMngr detectorMngr_{*this};
  IODeviceProfileBasedMngr ioMngr_{*this};
  EventStreamHolder eventStreams_{*this};  // its stream stops (joined) before the I/O service goes
};

}  // namespace Vantrel
