// The health of the channels of `qrmhost fleet`: what each channel's handlers hear from the
// module (module threads) is counted here, and the main thread turns it into health lines.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <cstddef>
#include <functional>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "FleetConfig.h"
#include "JsonLine.h"
#include "StopControl.h"
#include "host/GDRV.h"

namespace qrmhost {

// Wakes the main thread when a channel's state changes. Any thread.
class FleetBoard {
 public:
  void changed();
  // True when a change came before `deadline` (and forgets it), false when the deadline passed.
  bool waitForChange(Clock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool changed_ = false;
};

// One live channel: its video source (and audio source, when asked for) report here.
class ChannelHealth {
 public:
  // Degraded: streaming, but for kSlowWindow the pictures came at less than half the configured
  // rate (a slow or congested link); the connection works, so it is no failure.
  enum class State { Stopped, Streaming, Degraded, Failed };
  static constexpr std::chrono::seconds kSlowWindow{10};
  // "streaming", "degraded", "failed", "stopped".
  static const char* stateName(State state);

  // What a serving fleet takes from a channel beside its health; set before the channel starts.
  struct Taps {
    // Every picture, on the module's thread; the bytes are valid during the call only.
    std::function<void(const char* codec, bool key, const uint8_t* bytes, size_t size)> picture;
    // Every change of state with the last failure's code, with the channel's lock held: it must
    // not call the channel back.
    std::function<void(State state, int32_t code)> stateChanged;
  };

  struct Totals {
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t audioFrames = 0;
    uint64_t audioFailures = 0;
    uint64_t failures = 0;
    uint64_t reconnects = 0;
    uint64_t droppedParts = 0;
  };

  // `configuredFps`: the rate the channel asks the camera for; 0 when unknown (never degraded).
  ChannelHealth(std::string camera, FleetChannel channel, double configuredFps, FleetBoard& board)
      : camera_(std::move(camera)),
        channel_(channel),
        configuredFps_(configuredFps),
        board_(board),
        windowStart_(Clock::now()) {}

  // Before the channel starts.
  void setTaps(Taps taps) { taps_ = std::move(taps); }

  // Module threads.
  void frame(size_t bytes);
  void picture(const char* codec, bool key, const uint8_t* bytes, size_t size);
  void audioFrame();
  void audioFailed();
  void failed(int32_t code);
  void stopped();
  void statistic(const std::string& name, const std::string& text);

  // Main thread: judges the rate of the last kSlowWindow at `now` (streaming <-> degraded).
  void judgeRate(Clock::time_point now);
  // Main thread: the health line at `now`. With `endWindow` (a periodic line) fps and kbps are
  // measured since the last periodic line; without (a change of state) they repeat that line's.
  JsonObject healthLine(Clock::time_point now, bool endWindow);
  Totals totals();
  State state();
  const std::string& camera() const { return camera_; }
  const FleetChannel& channel() const { return channel_; }

 private:
  void setState(State state);  // with mutex_ held

  const std::string camera_;
  const FleetChannel channel_;
  const double configuredFps_;
  FleetBoard& board_;
  Taps taps_;
  std::mutex mutex_;
  State state_ = State::Stopped;
  Totals totals_;
  int32_t lastFailureCode_ = 0;
  std::optional<Clock::time_point> lastFrame_;
  std::deque<Clock::time_point> recentFrames_;  // arrival times within kSlowWindow
  Clock::time_point streamingSince_;            // the state last became Streaming
  Clock::time_point windowStart_;
  uint64_t windowFrames_ = 0;
  uint64_t windowBytes_ = 0;
  double fps_ = 0;
  double kbps_ = 0;
};

// The handler of a channel's video source; forwards to the channel's health.
class FleetVideoHandler : public Talvo::GDRV::IVideoSourceHandler {
 public:
  explicit FleetVideoHandler(ChannelHealth& health) : health_(health) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Failed(Talvo::IContract*, int32_t code) override { health_.failed(code); }
  void Started(Talvo::IContract*) override {}
  void Stopped(Talvo::IContract*) override { health_.stopped(); }
  void StatisticUpdated(Talvo::IContract*, const char* name, const char* text) override;
  void MultimediaFrame(Talvo::IContract*, Talvo::MFF::ICompressedBuffer* buffer) override;

 private:
  ChannelHealth& health_;
};

// The handler of a channel's audio source: counts its blocks and failures; its state and
// statistics are not the channel's (the video stream's) own.
class FleetAudioHandler : public Talvo::GDRV::IAudioSourceHandler {
 public:
  explicit FleetAudioHandler(ChannelHealth& health) : health_(health) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Failed(Talvo::IContract*, int32_t) override { health_.audioFailed(); }
  void Started(Talvo::IContract*) override {}
  void Stopped(Talvo::IContract*) override {}
  void StatisticUpdated(Talvo::IContract*, const char*, const char*) override {}
  void MultimediaFrame(Talvo::IContract*, Talvo::MFF::IAudioBuffer* buffer) override;

 private:
  ChannelHealth& health_;
};

}  // namespace qrmhost
