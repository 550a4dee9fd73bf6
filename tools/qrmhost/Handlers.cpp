#include "Handlers.h"

#include "ContractObject.h"
#include "FrameFactory.h"

namespace qrmhost {
namespace {

const char* stateName(Talvo::GDRV::DeviceState state) {
  switch (state) {
    case Talvo::GDRV::DEVICE_CONNECTED:
      return "connected";
    case Talvo::GDRV::DEVICE_DISCONNECTED:
      return "disconnected";
    case Talvo::GDRV::DEVICE_FAILED:
      return "failed";
  }
  return "unknown";
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void* DeviceReporter::QueryContract(const char* typeName) {
  return answerCast<DeviceReporter, Talvo::GDRV::IDeviceHandler, Talvo::IContract>(this, typeName);
}

void DeviceReporter::StateChanged(Talvo::IContract*, Talvo::GDRV::DeviceState state, int32_t code) {
  if (state == Talvo::GDRV::DEVICE_CONNECTED) everConnected_.store(true);
  auto line = kindLine("device");
  if (!camera_.empty()) line["camera"] = camera_;
  line["state"] = stateName(state);
  line["code"] = code;
  if (std::string(stateName(state)) == "unknown") line["value"] = static_cast<int64_t>(state);
  console_.report(line);
}

// ---------------------------------------------------------------------------------------------

void* IdentityCheck::QueryContract(const char* typeName) {
  return answerCast<IdentityCheck, Talvo::GDRV::IAutodetectHandler, Talvo::IContract>(this, typeName);
}

void IdentityCheck::Detected(Talvo::IContract*, Talvo::GDRV::IIpDeviceSearchResult* result) {
  const std::string model = result->GetModel() ? result->GetModel() : "";
  if (model.empty() || model == model_ || warned_.exchange(true)) return;
  console_.message("qrmhost: the camera says it is a " + model + ", not the " + model_ +
                   " of --model: it is driven as a " + model_ + " (see `qrmhost models`)");
}

void* AutodetectReporter::QueryContract(const char* typeName) {
  return answerCast<AutodetectReporter, Talvo::GDRV::IAutodetectHandler, Talvo::IContract>(this, typeName);
}

void AutodetectReporter::Failed(Talvo::IContract*, int32_t code) {
  auto line = kindLine("autodetect");
  line["code"] = code;
  console_.report(line);
  stop_.request();
}

void AutodetectReporter::Detected(Talvo::IContract*, Talvo::GDRV::IIpDeviceSearchResult* result) {
  detected_.store(true);
  auto line = kindLine("autodetect");
  auto text = [](const char* value) { return std::string(value ? value : ""); };
  line["brand"] = text(result->GetBrand());
  line["model"] = text(result->GetModel());
  line["firmware"] = text(result->GetFirmware());
  console_.report(line);
  stop_.request();
}

// ---------------------------------------------------------------------------------------------

uint64_t LiveTally::countPicture(bool keyFrame, size_t size) {
  uint64_t number = 0;
  bool goalReached = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    number = ++totals_.frames;
    if (keyFrame) ++totals_.keyFrames;
    totals_.bytes += size;
    goalReached = frameGoal_ != 0 && totals_.frames == frameGoal_;
  }
  if (goalReached) stop_.request();
  return number;
}

void LiveTally::countAudio() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totals_.audioFrames;
}

void LiveTally::countFailure() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++totals_.failures;
}

LiveTally::Totals LiveTally::totals() {
  std::lock_guard<std::mutex> lock(mutex_);
  return totals_;
}

// ---------------------------------------------------------------------------------------------

JsonObject ChannelEvents::line(const char* kind) const {
  auto line = kindLine(kind);
  if (source_) line["source"] = source_;
  return line;
}

void ChannelEvents::failed(int32_t code) {
  tally_.countFailure();
  auto failure = line("failed");
  failure["code"] = code;
  console_.report(failure);
}

void ChannelEvents::started() {
  everStarted_.store(true);
  console_.report(line("started"));
}

void ChannelEvents::stopped() {
  console_.report(line("stopped"));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  stoppedChanged_.notify_all();
}

void ChannelEvents::statistic(const char* name, const char* text) {
  auto statisticLine = line("statistic");
  statisticLine["name"] = name ? name : "";
  statisticLine["text"] = text ? text : "";
  console_.report(statisticLine);
}

bool ChannelEvents::waitStopped(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return stoppedChanged_.wait_until(lock, deadline, [this] { return stopped_; });
}

// ---------------------------------------------------------------------------------------------

void* IOReporter::QueryContract(const char* typeName) {
  // IContract through the channel handler: the output handler has an IContract of its own.
  if (Talvo::isContractName<Talvo::IContract>(typeName))
    return static_cast<Talvo::IContract*>(static_cast<Talvo::GDRV::IIODeviceHandler*>(this));
  return answerCast<IOReporter, Talvo::GDRV::IDigitalOutputHandler, Talvo::GDRV::IIODeviceHandler,
                    Talvo::GDRV::IAsyncDeviceChannelHandler>(this, typeName);
}

void IOReporter::reportState(const char* kind, int32_t index, bool active, uint64_t time) {
  auto line = kindLine(kind);
  line["index"] = index;
  line["active"] = active;
  line["time"] = time;
  console_.report(line);
}

void IOReporter::addCounts(JsonObject& line) const {
  line["inputs"] = inputChanges_.load();
  line["outputs"] = outputsAnswered_.load();
}

void IOReporter::InputChanged(Talvo::IContract*, int32_t input, bool active, uint64_t time) {
  ++inputChanges_;
  reportState("input", input, active, time);
}

void IOReporter::OutputChanged(Talvo::IContract*, int32_t code) {
  auto line = kindLine("output");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    line["index"] = pendingOutputs_.empty() ? -1 : pendingOutputs_.front();
    if (!pendingOutputs_.empty()) pendingOutputs_.pop_front();
  }
  outputsChanged_.notify_all();
  if (code != 0) outputFailed_.store(true);
  ++outputsAnswered_;
  line["code"] = code;
  console_.report(line);
}

void IOReporter::OutputStateChanged(Talvo::IContract*, int32_t output, bool active, uint64_t time) {
  reportState("output_state", output, active, time);
}

void IOReporter::expectOutput(int32_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  pendingOutputs_.push_back(index);
}

bool IOReporter::waitOutputs(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return outputsChanged_.wait_until(lock, deadline, [this] { return pendingOutputs_.empty(); });
}

void* VideoReporter::QueryContract(const char* typeName) {
  return answerCast<VideoReporter, Talvo::GDRV::IVideoSourceHandler, Talvo::GDRV::IAsyncDeviceChannelHandler,
                    Talvo::IContract>(this, typeName);
}

void VideoReporter::MultimediaFrame(Talvo::IContract*, Talvo::MFF::ICompressedBuffer* buffer) {
  OwnedBuffer<Talvo::MFF::ICompressedBuffer> picture(buffer);
  if (!picture) return;
  const char* codecName = picture->GetCodecName();
  const std::string codec = codecName ? codecName : "";
  const bool keyFrame = picture->IsKeyFrame();
  const size_t size = picture->GetSize();
  const uint64_t number = tally_.countPicture(keyFrame, size);
  auto line = kindLine("frame");
  line["codec"] = codec;
  line["key"] = keyFrame;
  line["size"] = size;
  console_.report(line);
  if (saver_) saver_->save(number, codec, keyFrame, picture->GetBuffer(), size);
}

// ---------------------------------------------------------------------------------------------

void* AudioReporter::QueryContract(const char* typeName) {
  return answerCast<AudioReporter, Talvo::GDRV::IAudioSourceHandler, Talvo::GDRV::IAsyncDeviceChannelHandler,
                    Talvo::IContract>(this, typeName);
}

void AudioReporter::MultimediaFrame(Talvo::IContract*, Talvo::MFF::IAudioBuffer* buffer) {
  OwnedBuffer<Talvo::MFF::IAudioBuffer> audio(buffer);
  if (!audio) return;
  tally_.countAudio();
  auto line = kindLine("audio");
  line["size"] = audio->GetSize();
  console_.report(line);
}

// ---------------------------------------------------------------------------------------------

void* SettingsReporter::QueryContract(const char* typeName) {
  return answerCast<SettingsReporter, Talvo::IAsyncActionHandler, Talvo::IContract>(this, typeName);
}

void SettingsReporter::Finished(Talvo::IContract*, int code) {
  auto line = kindLine("settings");
  if (!camera_.empty()) line["camera"] = camera_;
  line["code"] = code;
  console_.report(line);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  finishedChanged_.notify_all();
}

bool SettingsReporter::waitFinished(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return finishedChanged_.wait_until(lock, deadline, [this] { return finished_; });
}

}  // namespace qrmhost
