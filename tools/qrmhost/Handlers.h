// The handlers qrmhost hands to the module. The module calls them from its own threads, several
// at once; each turns what it hears into output lines. None calls back into the module.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "Console.h"
#include "PictureSaver.h"
#include "StopControl.h"
#include "host/Contract.h"
#include "host/GDRV.h"

namespace qrmhost {

// {"kind":"device","state":"connected"|"disconnected"|"failed","code":N} per state report; with
// a camera name (a run of several cameras) "camera":"host:port" follows the kind.
class DeviceReporter : public Talvo::GDRV::IDeviceHandler {
 public:
  explicit DeviceReporter(Console& console, std::string camera = {}) : console_(console), camera_(std::move(camera)) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void StateChanged(Talvo::IContract* device, Talvo::GDRV::DeviceState state, int32_t code) override;
  // True once the device reported "connected" (any thread).
  bool everConnected() const { return everConnected_.load(); }

 private:
  Console& console_;
  const std::string camera_;
  std::atomic<bool> everConnected_{false};
};

// Warns once, on stderr, when the camera names another model than the one it is driven as
// (--model): the module then asks for what that model has, which the camera may not have. A
// camera that does not answer is the device's report, not this one's.
class IdentityCheck : public Talvo::GDRV::IAutodetectHandler {
 public:
  IdentityCheck(Console& console, std::string model) : console_(console), model_(std::move(model)) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Failed(Talvo::IContract*, int32_t) override {}
  void Detected(Talvo::IContract* autodetect, Talvo::GDRV::IIpDeviceSearchResult* result) override;

 private:
  Console& console_;
  const std::string model_;
  std::atomic<bool> warned_{false};
};

// {"kind":"autodetect","brand":...,"model":...,"firmware":...} or {"kind":"autodetect","error":N};
// the first report requests `stop`.
class AutodetectReporter : public Talvo::GDRV::IAutodetectHandler {
 public:
  AutodetectReporter(Console& console, StopRequest& stop) : console_(console), stop_(stop) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Failed(Talvo::IContract* autodetect, int32_t code) override;
  void Detected(Talvo::IContract* autodetect, Talvo::GDRV::IIpDeviceSearchResult* result) override;
  bool detected() const { return detected_.load(); }

 private:
  std::atomic<bool> detected_{false};
  Console& console_;
  StopRequest& stop_;
};

// Counts of a `live` run. Any thread.
class LiveTally {
 public:
  // `frameGoal` 0 for none; reaching it requests `stop`.
  LiveTally(StopRequest& stop, uint64_t frameGoal) : stop_(stop), frameGoal_(frameGoal) {}

  // Counts one picture and returns its number in arrival order, from 1.
  uint64_t countPicture(bool keyFrame, size_t size);
  void countAudio();
  void countFailure();

  struct Totals {
    uint64_t frames = 0;
    uint64_t keyFrames = 0;
    uint64_t bytes = 0;
    uint64_t audioFrames = 0;
    uint64_t failures = 0;
  };
  Totals totals();

 private:
  StopRequest& stop_;
  const uint64_t frameGoal_;
  std::mutex mutex_;
  Totals totals_;
};

// The channel events shared by the video and the audio source handler. `source` is null for the
// video source, whose lines carry no "source" field; the audio source's carry "source":"audio".
class ChannelEvents {
 public:
  ChannelEvents(Console& console, LiveTally& tally, const char* source)
      : console_(console), tally_(tally), source_(source) {}

  void failed(int32_t code);
  void started();
  void stopped();
  void statistic(const char* name, const char* text);
  // True once the channel reported Stopped, false when `deadline` passes first.
  bool waitStopped(Clock::time_point deadline);
  // True once the channel reported Started.
  bool everStarted() const { return everStarted_.load(); }

  JsonObject line(const char* kind) const;

 private:
  Console& console_;
  LiveTally& tally_;
  const char* const source_;
  std::mutex mutex_;
  std::condition_variable stoppedChanged_;
  bool stopped_ = false;
  std::atomic<bool> everStarted_{false};
};

// Forwards the channel notifications both live handlers share to their ChannelEvents.
template <class Handler>
class ChannelReporter : public Handler {
 public:
  ChannelReporter(Console& console, LiveTally& tally, const char* source) : events_(console, tally, source) {}

  void* Cast(const char* typeName) override { return this->QueryContract(typeName); }
  void Failed(Talvo::IContract*, int32_t code) override { events_.failed(code); }
  void Started(Talvo::IContract*) override { events_.started(); }
  void Stopped(Talvo::IContract*) override { events_.stopped(); }
  void StatisticUpdated(Talvo::IContract*, const char* name, const char* text) override {
    events_.statistic(name, text);
  }

  ChannelEvents& events() { return events_; }

 protected:
  ChannelEvents events_;
};

// Pictures of the video source: {"kind":"frame","codec":C,"key":B,"size":N}, saved with --save.
class VideoReporter : public ChannelReporter<Talvo::GDRV::IVideoSourceHandler> {
 public:
  // `saver` may be null (no --save); it outlives this object.
  VideoReporter(Console& console, LiveTally& tally, PictureSaver* saver)
      : ChannelReporter(console, tally, nullptr), console_(console), tally_(tally), saver_(saver) {}

  void* QueryContract(const char* typeName) override;
  void MultimediaFrame(Talvo::IContract* channel, Talvo::MFF::ICompressedBuffer* buffer) override;

 private:
  Console& console_;
  LiveTally& tally_;
  PictureSaver* const saver_;
};

// Audio of the audio source: {"kind":"audio","size":N}.
class AudioReporter : public ChannelReporter<Talvo::GDRV::IAudioSourceHandler> {
 public:
  AudioReporter(Console& console, LiveTally& tally)
      : ChannelReporter(console, tally, "audio"), console_(console), tally_(tally) {}

  void* QueryContract(const char* typeName) override;
  void MultimediaFrame(Talvo::IContract* channel, Talvo::MFF::IAudioBuffer* buffer) override;

 private:
  Console& console_;
  LiveTally& tally_;
};

// The I/O channel: {"kind":"input","index":N,"active":B,"time":MS} per input change,
// {"kind":"output","index":N,"code":C} per output switched (the channel switches them in the
// order they were asked for, so the oldest pending index is the one finished), and
// {"kind":"output_state","index":N,"active":B,"time":MS} when a board reports an output.
class IOReporter : public ChannelReporter<Talvo::GDRV::IIODeviceHandler>, public Talvo::GDRV::IDigitalOutputHandler {
 public:
  IOReporter(Console& console, LiveTally& tally) : ChannelReporter(console, tally, nullptr), console_(console) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void InputChanged(Talvo::IContract* channel, int32_t input, bool active, uint64_t time) override;
  void OutputChanged(Talvo::IContract* channel, int32_t code) override;
  void OutputStateChanged(Talvo::IContract* channel, int32_t output, bool active, uint64_t time) override;
  // Main thread, before the output is asked for.
  void expectOutput(int32_t index);
  // True once every output asked for has finished, false when `deadline` passes first.
  bool waitOutputs(Clock::time_point deadline);
  // True when an output was answered with a non-zero code.
  bool outputFailed() const { return outputFailed_.load(); }
  // "inputs" changes and "outputs" answered so far.
  void addCounts(JsonObject& line) const;

 private:
  void reportState(const char* kind, int32_t index, bool active, uint64_t time);

  Console& console_;
  std::mutex mutex_;
  std::condition_variable outputsChanged_;
  std::deque<int32_t> pendingOutputs_;
  std::atomic<bool> outputFailed_{false};
  std::atomic<uint64_t> inputChanges_{0};
  std::atomic<uint64_t> outputsAnswered_{0};
};

// {"kind":"settings","code":N} when a settings set is finished; with a camera name (a run of
// several cameras) "camera":"host:port" follows the kind.
class SettingsReporter : public Talvo::IAsyncActionHandler {
 public:
  explicit SettingsReporter(Console& console, std::string camera = {})
      : console_(console), camera_(std::move(camera)) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Finished(Talvo::IContract* source, int code) override;
  // True once a settings set finished, false when `deadline` passes first.
  bool waitFinished(Clock::time_point deadline);

 private:
  Console& console_;
  const std::string camera_;
  std::mutex mutex_;
  std::condition_variable finishedChanged_;
  bool finished_ = false;
};

}  // namespace qrmhost
