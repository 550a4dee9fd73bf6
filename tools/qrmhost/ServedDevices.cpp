#include "ServedDevices.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "ContractObject.h"
#include "HeatMap.h"
#include "KeyPicture.h"

namespace qrmhost {

void ServedChannelState::stopped() {
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    running_ = false;
  }
  stopChanged_.notify_all();
}

void ServedChannelState::failed(int32_t code) {
  emit(std::string(kind_) + "_failed", [code](JsonObject& event) { event["code"] = code; });
}

bool ServedChannelState::waitStopped(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(stopMutex_);
  return stopChanged_.wait_until(lock, deadline, [this] { return !running_.load(); });
}

void ServedChannelState::emit(const std::string& kind, const std::function<void(JsonObject&)>& fill) {
  auto event = kindLine(kind.c_str());
  event["id"] = id_;
  event["camera"] = camera_;
  fill(event);
  sink_(std::move(event));
}

JsonObject ServedChannelState::entryHead() const {
  return JsonObject{{"id", id_}, {"camera", camera_}, {"kind", kind_}, {"camera_index", cameraIndex_}};
}

// ---------------------------------------------------------------------------------------------

ServedIO::ServedIO(std::string camera, size_t cameraIndex, uint32_t index, EventSink sink)
    : ServedChannelState(std::move(camera), cameraIndex, "io-" + std::to_string(cameraIndex) + "-" + std::to_string(index),
                         "io", std::move(sink)),
      index_(index) {}

void* ServedIO::QueryContract(const char* typeName) {
  // IContract through the channel handler: the output handler has an IContract of its own.
  if (Talvo::isContractName<Talvo::IContract>(typeName))
    return static_cast<Talvo::IContract*>(static_cast<Talvo::GDRV::IIODeviceHandler*>(this));
  return answerCast<ServedIO, Talvo::GDRV::IDigitalOutputHandler, Talvo::GDRV::IIODeviceHandler,
                    Talvo::GDRV::IAsyncDeviceChannelHandler>(this, typeName);
}

void ServedIO::InputChanged(Talvo::IContract*, int32_t input, bool active, uint64_t time) {
  reportState("input", inputs_, input, active, time);
}

void ServedIO::OutputChanged(Talvo::IContract*, int32_t code) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    codes_[++answers_] = code;
  }
  answered_.notify_all();
}

void ServedIO::OutputStateChanged(Talvo::IContract*, int32_t output, bool active, uint64_t time) {
  reportState("output", outputs_, output, active, time);
}

// An input or output seen switching: kept for the API's entry and told as an event.
void ServedIO::reportState(const char* kind, std::map<int32_t, bool>& states, int32_t index, bool active,
                           uint64_t time) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    states[index] = active;
  }
  emit(kind, [&](JsonObject& event) {
    event["io"] = index_;
    event[kind] = index;
    event["active"] = active;
    event["time"] = time;
  });
}

std::optional<int32_t> ServedIO::switchOutput(Talvo::GDRV::IIODevice& io, int32_t output, bool active,
                                              Clock::time_point deadline) {
  uint64_t number = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    number = ++asked_;
  }
  io.SetOutput(this, output, active);  // no lock held: the answer may come at once, on this thread
  std::unique_lock<std::mutex> lock(mutex_);
  const bool answered = answered_.wait_until(lock, deadline, [&] { return answers_ >= number; });
  // Answers to calls that timed out are never taken: forget them with this one.
  const auto code = codes_.find(number);
  std::optional<int32_t> result;
  if (answered && code != codes_.end()) result = code->second;
  codes_.erase(codes_.begin(), codes_.upper_bound(number));
  if (result == 0) outputs_[output] = active;
  return result;
}

JsonObject ServedIO::entry() {
  auto entry = entryHead();
  entry["io"] = index_;
  std::lock_guard<std::mutex> lock(mutex_);
  JsonObject inputs = JsonObject::object(), outputs = JsonObject::object();
  for (const auto& [input, active] : inputs_) inputs[std::to_string(input)] = active;
  for (const auto& [output, active] : outputs_) outputs[std::to_string(output)] = active;
  entry["inputs"] = inputs;
  entry["outputs"] = outputs;
  return entry;
}

// ---------------------------------------------------------------------------------------------

ServedDetector::ServedDetector(std::string camera, size_t cameraIndex, uint32_t channel, std::string detector,
                               EventSink sink, const char* kind)
    : ServedChannelState(std::move(camera), cameraIndex,
                         std::string(kind) + "-" + std::to_string(cameraIndex) + "-" + std::to_string(channel) + "-" +
                             detector,
                         kind, std::move(sink)),
      channel_(channel),
      detector_(std::move(detector)) {}

void* ServedDetector::QueryContract(const char* typeName) {
  return answerCast<ServedDetector, Talvo::GDRV::IVideoAnalyticsHandler, Talvo::IContract>(this, typeName);
}

void ServedDetector::Event(Talvo::IContract*, const char* name, Talvo::GDRV::EventPhase phase, uint64_t time,
                           const char*, const char*) {
  const std::string event = name ? name : "";
  const char* phaseName = phase == Talvo::GDRV::EVENT_BEGIN ? "begin"
                          : phase == Talvo::GDRV::EVENT_END ? "end"
                                                            : "periodical";
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++events_;
    if (phase == Talvo::GDRV::EVENT_BEGIN) active_[event] = true;
    if (phase == Talvo::GDRV::EVENT_END) active_.erase(event);
  }
  emit("detector", [&](JsonObject& line) {
    line["channel"] = channel_;
    line["detector"] = detector_;
    line["name"] = event;
    line["phase"] = phaseName;
    line["time"] = time;
  });
}

JsonObject ServedDetector::entry() {
  auto entry = entryHead();
  entry["channel"] = channel_;
  entry["detector"] = detector_;
  std::lock_guard<std::mutex> lock(mutex_);
  auto active = JsonObject::array();
  for (const auto& [name, on] : active_) active.push_back(name);
  entry["active"] = active;
  entry["events"] = events_;
  return entry;
}

// ---------------------------------------------------------------------------------------------

namespace {

// A heat map about once a second of matrix time.
constexpr uint64_t kHeatMapSpacingMs = 1000;

double rounded(double value) { return std::round(value * 100.0) / 100.0; }

}  // namespace

ServedThermal::ServedThermal(std::string camera, size_t cameraIndex, uint32_t channel, std::string detector,
                             EventSink sink, Render render)
    : ServedDetector(std::move(camera), cameraIndex, channel, std::move(detector), std::move(sink), "thermal"),
      render_(std::move(render)) {}

void* ServedThermal::QueryContract(const char* typeName) {
  if (Talvo::isContractName<Talvo::Analytics::IPeriodicalEventHandler>(typeName))
    return static_cast<Talvo::Analytics::IPeriodicalEventHandler*>(this);
  return ServedDetector::QueryContract(typeName);
}

void ServedThermal::PeriodicalEvent(Talvo::IContract*, const char* name, uint64_t time, const char*,
                                    Talvo::Analytics::IEventPropertySet* properties) {
  for (uint32_t i = 0; properties && i < properties->GetCount(); ++i) {
    double value = 0;
    if (properties->GetNumber(i, &value)) {
      std::lock_guard<std::mutex> lock(mutex_);
      levels_[name ? name : ""] = rounded(value);
    } else if (auto* matrix = Talvo::contract_cast<Talvo::Analytics::IFloatMatrix>(properties->GetBuffer(i))) {
      takeMatrix(time, *matrix);
    }
  }
}

void ServedThermal::takeMatrix(uint64_t time, Talvo::Analytics::IFloatMatrix& matrix) {
  const uint32_t width = matrix.GetWidth(), height = matrix.GetHeight();
  const float* values = matrix.GetValues();
  const size_t count = size_t(width) * height;
  if (count == 0 || !values) return;
  const auto [low, high] = std::minmax_element(values, values + count);
  double sum = 0;
  for (size_t i = 0; i < count; ++i) sum += values[i];
  {
    std::lock_guard<std::mutex> lock(mutex_);
    matrix_ = JsonObject{{"time", time},          {"width", width},           {"height", height},
                         {"min", rounded(*low)}, {"max", rounded(*high)}, {"mean", rounded(sum / double(count))}};
    if (lastHeatMap_ && time >= *lastHeatMap_ && time < *lastHeatMap_ + kHeatMapSpacingMs) return;
    lastHeatMap_ = time;
  }
  auto copy = std::make_shared<std::vector<float>>(values, values + count);
  render_(this, [this, copy, width, height, time] {
    HeatMapStyle style;
    style.time = time;
    const auto size = heatMapSize(width, height, heatMapScale(width, style));
    const auto pixels = heatMapPixels(copy->data(), width, height, style);
    if (auto jpeg = jpegOfRgb(pixels.data(), size.width, size.height))
      heatMaps_.publish(std::make_shared<const std::string>(std::move(*jpeg)));
  });
}

JsonObject ServedThermal::entry() {
  auto entry = ServedDetector::entry();
  std::lock_guard<std::mutex> lock(mutex_);
  entry["matrix"] = matrix_;
  JsonObject levels = JsonObject::object();
  for (const auto& [name, value] : levels_) levels[name] = value;
  entry["levels"] = levels;
  return entry;
}

}  // namespace qrmhost
