// The host's driver contract: what a driver module implements and the handlers the host
// implements. Declarations only. Slot order is the order of declaration below (after the common
// four slots of Talvo::IContract).
#pragma once

#include <cstddef>
#include <cstdint>

#include "Contract.h"
#include "DriverInfo.h"
#include "MFF.h"

namespace Talvo {
namespace GDRV {

class IDeviceChannel;
class IStorageDevice;
class IRecordingSearch;
class IRecordingPlayback;
class IDeviceSearchResult;
class IIpDeviceSearchResult;
namespace Storage {
class IRecordingInfo;
class IRecordingInfoEnumerator;
class IRecordingRange;
class ITrackIdEnumerator;
}  // namespace Storage

// ---------------------------------------------------------------------------------------------
// Handlers: implemented by the host, called by the driver from its own threads.

enum DeviceState : int32_t { DEVICE_CONNECTED = 0, DEVICE_DISCONNECTED = 1, DEVICE_FAILED = 2 };

class IDeviceHandler : public IContract {
 public:
  // The connection state of `device` changed; `code` is 0 unless the state is DEVICE_FAILED.
  virtual void StateChanged(IContract* device, DeviceState state, int32_t code) = 0;
};

class IAsyncDeviceChannelHandler : public IContract {
 public:
  virtual void Failed(IContract* channel, int32_t code) = 0;
  virtual void Started(IContract* channel) = 0;
  virtual void Stopped(IContract* channel) = 0;
  // A named statistics line of the channel, such as "video" or "connects".
  virtual void StatisticUpdated(IContract* channel, const char* name, const char* text) = 0;
};

class IVideoSourceHandler : public IAsyncDeviceChannelHandler {
 public:
  // The host takes `buffer`.
  virtual void MultimediaFrame(IContract* channel, MFF::ICompressedBuffer* buffer) = 0;
};

class IAudioSourceHandler : public IAsyncDeviceChannelHandler {
 public:
  virtual void MultimediaFrame(IContract* channel, MFF::IAudioBuffer* buffer) = 0;
};

class IAudioDestinationHandler : public IAsyncDeviceChannelHandler {};

class IIODeviceHandler : public IAsyncDeviceChannelHandler {
 public:
  virtual void InputChanged(IContract* channel, int32_t input, bool active, uint64_t time) = 0;
};

class IDigitalOutputHandler : public IContract {
 public:
  // The answer to IIODevice::SetOutput: 0 or an error code.
  virtual void OutputChanged(IContract* channel, int32_t code) = 0;
  // An output of `channel` was seen switching (boards that report their outputs), `time` in ms
  // since 1970.
  virtual void OutputStateChanged(IContract* channel, int32_t output, bool active, uint64_t time) = 0;
};

enum EventPhase : int32_t { EVENT_BEGIN = 0, EVENT_END = 1, EVENT_PERIODICAL = 2 };

class IVideoAnalyticsHandler : public IContract {
 public:
  virtual void Failed(IContract* detector, int32_t code) = 0;
  virtual void Started(IContract* detector) = 0;
  virtual void Stopped(IContract* detector) = 0;
  // A detector event: `name` such as "motionDetected", `time` in ms since 1970, `text` free text.
  virtual void Event(IContract* detector, const char* name, EventPhase phase, uint64_t time, const char* text,
                     const char* detectorId) = 0;
  // Detector data (for example a temperature matrix), `json` describing it.
  virtual void Data(IContract* detector, const char* name, uint64_t time, const char* json) = 0;
};

class IRecordingSearchHandler : public IContract {
 public:
  virtual void Completed(IRecordingSearch* search, int32_t code) = 0;
  virtual void Found(IRecordingSearch* search, Storage::IRecordingRange* range) = 0;
};

class IRecordingsInfoHandler : public IContract {
 public:
  virtual void Failed(IStorageDevice* device, int32_t code) = 0;
  virtual void Result(IStorageDevice* device, Storage::IRecordingInfoEnumerator* recordings) = 0;
};

class ISingleRecordingInfoHandler : public IContract {
 public:
  virtual void Failed(IStorageDevice* device, int32_t code) = 0;
  virtual void Result(IStorageDevice* device, Storage::IRecordingInfo* recording) = 0;
};

class IRecordingPlaybackHandler : public IContract {
 public:
  virtual void Failed(IRecordingPlayback* playback, int32_t code) = 0;
  virtual void Finished(IRecordingPlayback* playback, int32_t code) = 0;
  virtual void MultimediaFrame(IRecordingPlayback* playback, const char* trackId, MFF::IMultimediaBuffer* buffer) = 0;
};

class IDeviceSearchHandler : public IContract {
 public:
  virtual void Failed(IContract* search, int32_t code) = 0;
  virtual void Found(IContract* search, IDeviceSearchResult* result) = 0;
};

class IAutodetectHandler : public IContract {
 public:
  virtual void Failed(IContract* autodetect, int32_t code) = 0;
  virtual void Detected(IContract* autodetect, IIpDeviceSearchResult* result) = 0;
};

// ---------------------------------------------------------------------------------------------
// Driver objects.

class IDeviceChannel : public IContract {
 public:
  virtual void Destroy() = 0;
  virtual uint32_t GetChannel() = 0;
};

class IVideoSource : public IDeviceChannel {
 public:
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual void RequestKeyFrame(IAsyncActionHandler* handler) = 0;
  // Returns 1 when the flag was stored.
  virtual int32_t SetBlockConfiguration(bool block) = 0;
  virtual uint32_t GetStream() = 0;
};

class IAudioSource : public IDeviceChannel {
 public:
  virtual void Start() = 0;
  virtual void Stop() = 0;
};

class IAudioDestination : public IDeviceChannel {
 public:
  virtual void Call() = 0;
  virtual void HangUp() = 0;
  // The channel takes `buffer` and ends it with its Destroy exactly once: when it was written, or
  // when it is dropped (the waiting audio is capped, no call is up) or abandoned (hang-up, Destroy).
  virtual void SendAudio(MFF::IAudioBuffer* buffer) = 0;
};

class IIODevice : public IDeviceChannel {
 public:
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual void SetOutput(IDigitalOutputHandler* handler, int32_t output, bool active) = 0;
};

class ITelemetryAdjuster : public IContract {
 public:
  virtual int32_t GetPresetCount() = 0;
};

// PTZ. Every operation returns 0 or an error code (6 argument outside the limits, 8 unsupported).
class ITelemetry : public IDeviceChannel, public ITelemetryAdjuster {
 public:
  virtual int32_t RelativeMove(int32_t pan, int32_t panSpeed, int32_t tilt, int32_t tiltSpeed) = 0;
  virtual int32_t RelativeZoom(int32_t zoom, int32_t zoomSpeed) = 0;
  virtual int32_t GoPreset(int32_t index) = 0;
  virtual int32_t SetPreset(int32_t index) = 0;
  virtual int32_t ContinuousMove(int32_t panSpeed, int32_t tiltSpeed) = 0;
  virtual int32_t ContinuousZoom(int32_t zoomSpeed) = 0;
  virtual int32_t ContinuousFocus(int32_t focusSpeed) = 0;
  virtual int32_t ContinuousIris(int32_t irisSpeed) = 0;
  virtual int32_t StopMove() = 0;
  virtual int32_t StopZoom() = 0;
  virtual int32_t StopFocus() = 0;
  virtual int32_t StopIris() = 0;
  virtual int32_t AbsoluteMove(double pan, double tilt, double speed) = 0;
  virtual int32_t AbsoluteZoom(double zoom, double speed) = 0;
  virtual int32_t AbsoluteFocus(double focus) = 0;
  virtual int32_t AbsoluteIris(double iris) = 0;
  virtual int32_t RelativeFocus(int32_t focus, int32_t speed) = 0;
  virtual int32_t RelativeIris(int32_t iris, int32_t speed) = 0;
  virtual int32_t AutoFocus(bool on) = 0;
  virtual int32_t AutoIris(bool on) = 0;
  virtual int32_t GoHome() = 0;
  virtual int32_t SetHome() = 0;
  virtual int32_t RemovePreset(int32_t index) = 0;
  virtual int32_t SetPresetName(int32_t index, const char* name) = 0;
  virtual int32_t GetPresetName(int32_t index, char* name, size_t size) = 0;
  virtual int32_t StartTour(int32_t tour) = 0;
  virtual int32_t StopTour() = 0;
  virtual int32_t Wiper(bool on) = 0;
  virtual int32_t Light(bool on) = 0;
  virtual int32_t AuxCommand(int32_t command, bool on) = 0;
};

struct Point {
  double x;
  double y;
};
struct Rect {
  double left;
  double top;
  double width;
  double height;
};

class ITelemetryPointClick : public IContract {
 public:
  virtual int32_t PointMove(const Point& point) = 0;
  virtual int32_t AreaZoom(const Rect& area) = 0;
};

class IRectangleEnumerator;
class IPolylineEnumerator;

class IVideoAnalytics : public IContract {
 public:
  virtual void Destroy() = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
};

class IAutodetect : public IContract {
 public:
  virtual void Start(const char* address) = 0;
  virtual void Stop() = 0;
  virtual void Destroy() = 0;
};

class IDeviceSearch : public IContract {
 public:
  virtual const char* GetAlgorithmId() = 0;
  virtual int32_t GetVersion() = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual void Destroy() = 0;
};

class IDeviceSearchResult : public IContract {
 public:
  virtual const char* GetBrand() = 0;
  virtual const char* GetModel() = 0;
  virtual const char* GetFirmware() = 0;
  virtual const char* GetDriverName() = 0;
  virtual int32_t GetDriverNumber() = 0;
};

class IIpDeviceSearchResult : public IDeviceSearchResult {
 public:
  virtual const char* GetAddress() = 0;
  virtual const char* GetMacAddress() = 0;
  virtual const char* GetSerial() = 0;
  virtual int32_t GetPort() = 0;
};

class IRecordingSearch : public IDestroyable {
 public:
  virtual void FindRecordings(const DateTimeRange& range, uint32_t maxCount, IRecordingSearchHandler* handler) = 0;
  virtual void StopSearch() = 0;
};

class IRecordingPlayback : public IDestroyable {
 public:
  virtual void Terminate() = 0;
  virtual void Play(IAsyncActionHandler* handler, double speed) = 0;
  virtual void Seek(uint64_t milliseconds, IAsyncActionHandler* handler) = 0;
  virtual void Step(IAsyncActionHandler* handler, bool forward) = 0;
};

class IStorageDevice : public IContract {
 public:
  virtual void RequestRecordingsInfo(IRecordingsInfoHandler* handler) = 0;
  virtual void RequestRecordingInfo(const char* recordingId, ISingleRecordingInfoHandler* handler) = 0;
  virtual IRecordingSearch* CreateRecordingSearch(const char* recordingId) = 0;
  virtual IContract* CreateRecordingExport(const char* recordingId) = 0;
  virtual IRecordingPlayback* CreateRecordingPlayback(const char* recordingId, MFF::IMultimediaFrameFactory* factory,
                                                      Storage::ITrackIdEnumerator* tracks,
                                                      IRecordingPlaybackHandler* handler) = 0;
};

class IDevice : public IContract {
 public:
  virtual void Connect(const char* connectionText) = 0;
  virtual void Disconnect() = 0;
  virtual void Destroy() = 0;
  virtual IVideoSource* CreateVideoSource(IVideoSourceHandler* handler, uint32_t channel, uint32_t stream,
                                          MFF::IMultimediaFrameFactory* factory) = 0;
  virtual IAudioSource* CreateAudioSource(IAudioSourceHandler* handler, uint32_t channel,
                                          MFF::IMultimediaFrameFactory* factory) = 0;
  virtual IAudioDestination* CreateAudioDestination(IAudioDestinationHandler* handler, uint32_t channel) = 0;
  virtual IIODevice* CreateIODevice(IIODeviceHandler* handler, uint32_t index) = 0;
  virtual ITelemetry* CreateTelemetry(uint32_t index) = 0;
  virtual IDeviceChannel* CreateTextEventSource(IAsyncDeviceChannelHandler* handler, uint32_t index) = 0;
  virtual IVideoAnalytics* CreateVideoAnalytics(IVideoAnalyticsHandler* handler, uint32_t channel,
                                                const char* detectorId) = 0;
  virtual IContract* CreateAudioAnalytics(IContract* handler, uint32_t channel, const char* detectorId) = 0;
  virtual IContract* CreateMetadataSource(IContract* handler, uint32_t channel) = 0;
};

class IModule : public IContract {
 public:
  virtual IAutodetect* CreateAutodetect(IAutodetectHandler* handler) = 0;
  virtual IDeviceSearch* CreateDeviceSearch(IDeviceSearchHandler* handler) = 0;
  // Null when no model of the repository matches.
  virtual IDevice* CreateDevice(IDeviceHandler* handler, const char* vendor, const char* model,
                                const char* firmware) = 0;
};

}  // namespace GDRV
}  // namespace Talvo
