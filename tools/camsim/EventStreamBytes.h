// The bytes of a /control/eventstream.jpg answer and the reading of the client's commands,
// without sockets or timing (EventStream does those).
//
// The answer is a continuous sequence of segments after an HTTP/1.0 head: APP12 (FF EC) control
// segments carrying JSON (the first names "eventstream", answers carry the command's id), JPEG
// pictures with a "#:R9IMG" text header, a "ZLF" block with the picture time in microseconds and,
// after "setThermalRaw" true on a thermal model, the "ZLT" blocks of each sensor; APP11 (FF EB)
// audio segments ("ZLS" stream header, "ZLA" PCM16 data) while audio output is on.
// The request body is the client's JSON-RPC commands, each ended by a zero byte; APP11 segments
// in it (audio for the loudspeaker) are skipped.
#pragma once

#include "CameraState.h"
#include "FaultTable.h"
#include "PictureSource.h"
#include "PushStreamBytes.h"
#include "ThermalScene.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

constexpr int kMaxEventStreamFps = 100;  // tests raise the rate with ?fps=

struct EventStreamRequestParse {
  std::optional<int> fps;
  std::string error;
};
// Reads fps= (1..100, default 25) of the query.
EventStreamRequestParse parseEventStreamRequest(const Target& target);

std::string eventStreamHead();
std::string controlSegment(const std::string& json);

// Cuts the request body into command texts. Not thread-safe (one per connection).
class CommandReader {
 public:
  static constexpr std::size_t kMaxCommandBytes = 64 * 1024;

  // Appends the finished commands; false when a command grew past kMaxCommandBytes.
  bool feed(const char* data, std::size_t size, std::vector<std::string>& commands);
  std::uint64_t audioBytes() const { return audioBytes_; }

 private:
  std::string pending_;
  std::size_t skip_ = 0;     // bytes of an APP11 segment still to skip
  std::string segmentHead_;  // the first bytes of an APP11 segment whose length is not complete yet
  std::uint64_t audioBytes_ = 0;
};

// One connection's settings as the client's commands change them, and the bytes of each step.
// Not thread-safe (the connection's strand calls it); pictures, state and scene outlive it.
class EventStreamMaker {
 public:
  EventStreamMaker(const PictureSource& pictures, const CameraState& state, const ThermalScene& thermal,
                   std::optional<Fault> fault, int fps);

  std::string greeting() const;
  // The control segment answering one command text.
  std::string answer(const std::string& command);
  // The next picture (with its audio), or a drop or stall of the fault.
  StreamStep next();
  std::chrono::steady_clock::duration interval() const;

 private:
  std::string picture(std::uint64_t index);
  std::string audio(std::uint64_t timeUs);
  bool faultHits(FaultAction action, std::uint64_t pictureNumber) const {
    return streamFaultHits(fault_, action, pictureNumber);
  }

  const PictureSource& pictures_;
  const CameraState& state_;
  const ThermalScene& thermal_;
  const std::optional<Fault> fault_;
  int fps_;
  bool videoEnabled_ = true;
  bool thermalRaw_ = false;
  bool audioOn_ = false;
  bool audioHeaderSent_ = false;
  std::uint64_t picturesMade_ = 0;
  std::uint64_t audioSamples_ = 0;
};

}  // namespace camsim
