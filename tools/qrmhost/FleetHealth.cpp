#include "FleetHealth.h"

#include <cmath>
#include <cstdio>

#include "ContractObject.h"
#include "FrameFactory.h"

namespace qrmhost {
namespace {

// The N of a statistics text "key=N", if it has one.
std::optional<uint64_t> countIn(const std::string& text, const char* key) {
  unsigned long long value = 0;
  const std::string format = std::string(key) + "=%llu";
  if (std::sscanf(text.c_str(), format.c_str(), &value) != 1) return std::nullopt;
  return value;
}

double oneDecimal(double value) { return std::round(value * 10) / 10; }

}  // namespace

void FleetBoard::changed() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_ = true;
  }
  wake_.notify_one();
}

bool FleetBoard::waitForChange(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!wake_.wait_until(lock, deadline, [this] { return changed_; })) return false;
  changed_ = false;
  return true;
}

// ---------------------------------------------------------------------------------------------

const char* ChannelHealth::stateName(State state) {
  switch (state) {
    case State::Streaming:
      return "streaming";
    case State::Degraded:
      return "degraded";
    case State::Failed:
      return "failed";
    case State::Stopped:
      break;
  }
  return "stopped";
}

void ChannelHealth::setState(State state) {
  if (state_ == state) return;
  state_ = state;
  if (taps_.stateChanged) taps_.stateChanged(state, lastFailureCode_);
  board_.changed();
}

void ChannelHealth::picture(const char* codec, bool key, const uint8_t* bytes, size_t size) {
  if (taps_.picture) taps_.picture(codec ? codec : "", key, bytes, size);
}

void ChannelHealth::frame(size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totals_.frames;
  totals_.bytes += bytes;
  ++windowFrames_;
  windowBytes_ += bytes;
  lastFrame_ = Clock::now();
  recentFrames_.push_back(*lastFrame_);
  if (state_ == State::Streaming || state_ == State::Degraded) return;  // judgeRate moves between them
  streamingSince_ = *lastFrame_;
  setState(State::Streaming);
}

void ChannelHealth::judgeRate(Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  while (!recentFrames_.empty() && now - recentFrames_.front() > kSlowWindow) recentFrames_.pop_front();
  if (configuredFps_ <= 0) return;
  const bool slow = recentFrames_.size() < configuredFps_ / 2 * kSlowWindow.count();
  if (state_ == State::Streaming && slow && now - streamingSince_ >= kSlowWindow) setState(State::Degraded);
  if (state_ == State::Degraded && !slow) setState(State::Streaming);
}

void ChannelHealth::audioFrame() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totals_.audioFrames;
}

void ChannelHealth::audioFailed() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totals_.audioFailures;
}

void ChannelHealth::failed(int32_t code) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totals_.failures;
  lastFailureCode_ = code;
  setState(State::Failed);
}

void ChannelHealth::stopped() {
  std::lock_guard<std::mutex> lock(mutex_);
  setState(State::Stopped);
}

void ChannelHealth::statistic(const std::string& name, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  // "connects" counts starts of the connection: every start after the first is a reconnect.
  if (name == "connects") {
    if (const auto starts = countIn(text, "starts")) totals_.reconnects = *starts > 0 ? *starts - 1 : 0;
  } else if (name == "dropped") {
    if (const auto parts = countIn(text, "parts")) totals_.droppedParts = *parts;
  }
}

JsonObject ChannelHealth::healthLine(Clock::time_point now, bool endWindow) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (endWindow) {
    const double seconds = std::chrono::duration<double>(now - windowStart_).count();
    fps_ = seconds > 0 ? oneDecimal(windowFrames_ / seconds) : 0.0;
    kbps_ = seconds > 0 ? oneDecimal(windowBytes_ * 8 / 1000.0 / seconds) : 0.0;
    windowStart_ = now;
    windowFrames_ = windowBytes_ = 0;
  }
  auto line = kindLine("health");
  line["camera"] = camera_;
  line["channel"] = channel_.channel;
  line["stream"] = channel_.stream;
  line["state"] = stateName(state_);
  line["fps"] = fps_;
  line["kbps"] = kbps_;
  line["frames"] = totals_.frames;
  if (lastFrame_)
    line["last_frame_age_ms"] = std::chrono::duration_cast<std::chrono::milliseconds>(now - *lastFrame_).count();
  else
    line["last_frame_age_ms"] = nullptr;  // no picture yet
  line["failures"] = totals_.failures;
  if (totals_.failures > 0) line["code"] = lastFailureCode_;  // the last failure's, with its reason beside it
  line["reconnects"] = totals_.reconnects;
  line["dropped_parts"] = totals_.droppedParts;
  if (channel_.audio) {
    line["audio_frames"] = totals_.audioFrames;
    line["audio_failures"] = totals_.audioFailures;
  }
  return line;
}

ChannelHealth::State ChannelHealth::state() {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

ChannelHealth::Totals ChannelHealth::totals() {
  std::lock_guard<std::mutex> lock(mutex_);
  return totals_;
}

// ---------------------------------------------------------------------------------------------

void* FleetVideoHandler::QueryContract(const char* typeName) {
  return answerCast<FleetVideoHandler, Talvo::GDRV::IVideoSourceHandler, Talvo::GDRV::IAsyncDeviceChannelHandler,
                    Talvo::IContract>(this, typeName);
}

void FleetVideoHandler::StatisticUpdated(Talvo::IContract*, const char* name, const char* text) {
  health_.statistic(name ? name : "", text ? text : "");
}

void FleetVideoHandler::MultimediaFrame(Talvo::IContract*, Talvo::MFF::ICompressedBuffer* buffer) {
  OwnedBuffer<Talvo::MFF::ICompressedBuffer> picture(buffer);
  if (!picture) return;
  health_.frame(picture->GetSize());
  health_.picture(picture->GetCodecName(), picture->IsKeyFrame(), picture->GetBuffer(), picture->GetSize());
}

void* FleetAudioHandler::QueryContract(const char* typeName) {
  return answerCast<FleetAudioHandler, Talvo::GDRV::IAudioSourceHandler, Talvo::GDRV::IAsyncDeviceChannelHandler,
                    Talvo::IContract>(this, typeName);
}

void FleetAudioHandler::MultimediaFrame(Talvo::IContract*, Talvo::MFF::IAudioBuffer* buffer) {
  OwnedBuffer<Talvo::MFF::IAudioBuffer> audio(buffer);
  if (audio) health_.audioFrame();
}

}  // namespace qrmhost
