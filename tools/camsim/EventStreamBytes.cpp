#include "EventStreamBytes.h"

#include "JpegSegments.h"

#include <cmath>

#include <nlohmann/json.hpp>

namespace camsim {

namespace {

constexpr int kDefaultFps = 25;
constexpr int kAudioRate = 16000;  // PCM16 mono
constexpr std::size_t kAudioSamplesOffset = 24;

std::string segment(unsigned char marker, const std::string& payload) {
  const std::size_t length = payload.size() + 2;
  return std::string{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8),
                     static_cast<char>(length & 0xFF)} +
         payload;
}

void putLittleEndian(std::string& out, std::size_t offset, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[offset + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

std::uint64_t nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The information block: "ZLF\0", version 2.0 without records, the time stamp at bytes 8-15.
std::string zlfBlock(std::uint64_t timeUs) {
  std::string block("ZLF\0", 4);
  block.resize(24, '\0');
  block[4] = 2;
  putLittleEndian(block, 8, timeUs, 8);
  return block;
}

nlohmann::json answerFor(const nlohmann::json& id, nlohmann::json result) {
  return {{"id", id}, {"result", std::move(result)}};
}

nlohmann::json errorFor(const nlohmann::json& id, int code, const std::string& message) {
  nlohmann::json answer = {{"error", {{"code", code}, {"message", message}}}};
  if (!id.is_null()) answer["id"] = id;
  return answer;
}

}  // namespace

EventStreamRequestParse parseEventStreamRequest(const Target& target) {
  if (!target.has("fps")) return {kDefaultFps, ""};
  const auto fps = parseNumber(target.valueOr("fps", ""), 1, kMaxEventStreamFps);
  if (!fps) return {std::nullopt, "fps must be a number from 1 to 100"};
  return {static_cast<int>(*fps), ""};
}

std::string eventStreamHead() {
  return "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nCache-Control: no-cache\r\n"
         "Connection: close\r\n\r\n";
}

std::string controlSegment(const std::string& json) { return segment(0xEC, json); }

bool CommandReader::feed(const char* data, std::size_t size, std::vector<std::string>& commands) {
  for (std::size_t i = 0; i < size; ++i) {
    const char byte = data[i];
    if (skip_ > 0) {
      --skip_;
      continue;
    }
    if (!segmentHead_.empty()) {  // an APP11 segment: FF EB and its 16-bit length
      segmentHead_ += byte;
      if (segmentHead_.size() == 2 && byte != '\xEB') {  // not audio: text after all
        pending_ = std::move(segmentHead_);
        segmentHead_.clear();
        continue;
      }
      if (segmentHead_.size() < 4) continue;
      const std::size_t length =
          256u * static_cast<unsigned char>(segmentHead_[2]) + static_cast<unsigned char>(segmentHead_[3]);
      skip_ = length >= 2 ? length - 2 : 0;
      audioBytes_ += skip_ + 4;
      segmentHead_.clear();
      continue;
    }
    if (pending_.empty() && byte == '\xFF') {
      segmentHead_ = byte;
      continue;
    }
    if (byte == '\0') {
      if (!pending_.empty()) commands.push_back(std::move(pending_));
      pending_.clear();
      continue;
    }
    pending_ += byte;
    if (pending_.size() > kMaxCommandBytes) return false;
  }
  return true;
}

EventStreamMaker::EventStreamMaker(const PictureSource& pictures, const CameraState& state, const ThermalScene& thermal,
                                   std::optional<Fault> fault, int fps)
    : pictures_(pictures), state_(state), thermal_(thermal), fault_(std::move(fault)), fps_(fps) {}

std::string EventStreamMaker::greeting() const {
  return controlSegment(nlohmann::json{{"type", "eventstream"}, {"id", 0}, {"version", "1.0"}}.dump());
}

std::chrono::steady_clock::duration EventStreamMaker::interval() const {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::seconds(1)) / fps_;
}

std::string EventStreamMaker::answer(const std::string& command) {
  const nlohmann::json request = nlohmann::json::parse(command, nullptr, false);
  if (request.is_discarded() || !request.is_object() || !request.contains("method") || !request["method"].is_string()) {
    return controlSegment(errorFor(nullptr, -32700, "parse error").dump());
  }
  const nlohmann::json id = request.value("id", nlohmann::json());
  const std::string method = request["method"];
  const nlohmann::json params = request.value("params", nlohmann::json::array());
  const nlohmann::json first = params.is_array() && !params.empty() ? params[0] : nlohmann::json();
  if (method == "audiooutput") {
    audioOn_ = !(first.is_string() && first == "off");
    audioHeaderSent_ = false;
  } else if (method == "video_enable") {
    videoEnabled_ = !first.is_boolean() || first.get<bool>();
  } else if (method == "setThermalRaw") {
    if (!state_.model().thermal) return controlSegment(errorFor(id, -32000, "no thermal sensor").dump());
    thermalRaw_ = first.is_boolean() && first.get<bool>();
  } else if (method == "fps") {
    if (first.is_number() && first.get<double>() >= 1) fps_ = std::min(kMaxEventStreamFps, first.get<int>());
  } else if (method != "size" && method != "live" && method != "mode" && method != "setRate" && method != "sensor" &&
             method != "display_mode" && method != "play" && method != "pause" && method != "show") {
    return controlSegment(errorFor(id, -32601, "unknown method " + method).dump());
  }
  return controlSegment(answerFor(id, "ok").dump());
}

StreamStep EventStreamMaker::next() {
  const std::uint64_t index = picturesMade_;
  if (auto stop = faultStopStep(fault_, index)) return *stop;
  if (!videoEnabled_) return {StepKind::Part, ""};
  ++picturesMade_;
  const std::uint64_t timeUs = nowUs();
  std::string bytes;
  if (faultHits(FaultAction::GarbagePart, index + 1)) {
    bytes = std::string(2048, '\x5A');
  } else {
    bytes = picture(index);
    if (faultHits(FaultAction::NoEoi, index + 1)) bytes.resize(bytes.size() - 2);
  }
  if (audioOn_) bytes += audio(timeUs);
  return {StepKind::Part, std::move(bytes)};
}

std::string EventStreamMaker::picture(std::uint64_t index) {
  std::string blocks;
  std::string text = "#:R9IMG\r\nSECTION IMAGE\r\nCFL=" + state_.model().name + "\r\nFRM=" + std::to_string(index) +
                     "\r\nENDSECTION IMAGE\r\n";
  const EventSettings events = state_.events();
  if (events.enabled) text += "SECTION EVENT\r\nEST=" + events.est + "\r\nENDSECTION EVENT\r\n";
  blocks += commentSegment(text);
  blocks += commentSegment(zlfBlock(nowUs()));
  const bool withheld = fault_ && fault_->action == FaultAction::NoThermalAfterParts &&
                        index >= static_cast<std::uint64_t>(fault_->value);
  if (thermalRaw_ && state_.model().thermal && !withheld) {
    const ThermalSettings scene = thermal_.settings();
    for (int sensor = 0; sensor < scene.sensors; ++sensor)
      for (const std::string& block : thermalSegments(scene, sensor)) blocks += block;
  }
  return insertAfterApp0(pictures_.picture(index)->key, blocks);
}

// A stream header when audio has just been switched on, then the tone of one picture interval.
std::string EventStreamMaker::audio(std::uint64_t timeUs) {
  std::string out;
  if (!audioHeaderSent_) {
    std::string header("ZLS\0", 4);
    header.resize(18, '\0');
    putLittleEndian(header, 8, kAudioRate, 4);
    header.replace(12, 4, " P16");
    header[16] = 1;  // 16-bit samples
    header[17] = 1;  // mono
    out += segment(0xEB, header);
    audioHeaderSent_ = true;
  }
  const std::size_t count = kAudioRate / fps_;
  std::string data("ZLA\0", 4);
  data.resize(kAudioSamplesOffset - 4, '\0');
  putLittleEndian(data, 8, timeUs, 8);
  for (std::size_t i = 0; i < count; ++i, ++audioSamples_) {
    const double phase = 2 * M_PI * 440.0 * static_cast<double>(audioSamples_) / kAudioRate;
    const auto sample = static_cast<std::int16_t>(std::lround(8000 * std::sin(phase)));
    data += static_cast<char>(sample & 0xFF);
    data += static_cast<char>((sample >> 8) & 0xFF);
  }
  return out + segment(0xEB, data);
}

}  // namespace camsim
