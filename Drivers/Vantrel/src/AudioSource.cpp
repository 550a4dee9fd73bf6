#include "AudioSource.h"
#include "ChannelLogger.h"

#include <cstring>

#include <boost/format.hpp>

#include "Device.h"
#include "Nuvlet/include/Contract.h"
#include "host/Nuvlet/HttpBlocking.h"
#include "host/Nuvlet/StopReport.h"

namespace Vantrel {

using Talvo::Utility::castTo;
using Talvo::Utility::Path;

AudioSource* AudioSource::create(Talvo::GDRV::IAudioSourceHandler* handler, uint32_t channel,
                                 Talvo::MFF::IMultimediaFrameFactory* factory, Device* device) {
  boost::shared_ptr<AudioSource> source(new AudioSource(handler, channel, factory, device));
  source->self_ = source;
  device->registerAudioSource(channel, source);
  return source.get();
}

AudioSource::AudioSource(Talvo::GDRV::IAudioSourceHandler* handler, uint32_t channel,
                         Talvo::MFF::IMultimediaFrameFactory* factory, Device* device)
    : Talvo::Utility::SimpleAdjuster(static_cast<Talvo::GDRV::IAudioSource*>(this)),
      Talvo::LoggerOwner(channelLogger(device, (boost::format("as %1%") % channel).str())),
      channel_(channel),
      handler_(handler),
      factory_(factory),
      device_(device),
      deviceData_(device->deviceData()) {
  Talvo::Utility::audioSourceInitializeParams(parameters_, channel, device->modelEntry(), device->driverInfo(),
                                              initialParameters_);
}

AudioSource::~AudioSource() = default;

void* AudioSource::QueryContract(const char* typeName) {
  return castTo<Path<Talvo::IContract, Talvo::GDRV::IAudioSource>, Path<Talvo::GDRV::IAudioSource>,
                Path<Talvo::GDRV::IDeviceChannel>, Path<Talvo::IAsyncAdjuster>>(this, typeName);
}

void AudioSource::Destroy() {
  Stop();
  device_->unregisterAudioSource(channel_, this);
  boost::shared_ptr<AudioSource> last;
  last.swap(self_);  // the object goes when the last delivery in progress lets it go
}

void AudioSource::Start() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::Idle) {
      NLOG(*this, 3, " Already started");
      return;
    }
    state_ = State::Starting;
  }
  NLOG(*this, 0, " Start");
  // The request may take its whole time-out: the video worker must not wait for it.
  const int result = enableMicrophone();
  NLOG(*this, 0, " Started, audio enabled on device with result= " << result << ".");
  if (handler_) handler_->Started(contract());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool stopAsked = state_ == State::StopAsked;
    state_ = stopAsked ? State::Idle : State::Running;
    held_.clear();
    fedBy_ = device_->nextLiveStream(channel_, std::nullopt);  // lock order: ours, then the device's
    if (!stopAsked) return;
  }
  reportStopped();
}

int AudioSource::enableMicrophone() {
  try {
    std::string reply;
    Talvo::http::HttpHeaders headers;
    return Talvo::http::syncHttpGet(device_->cameraConnection(), "/admin/audio?setMicro=1", logger(), reply, headers,
                                    false);
  } catch (const std::exception& e) {
    NLOG(*this, 3, " std::exception: " << e.what());
    return 10;
  }
}

namespace {
// The source whose frame this thread is handing to the host, if any.
thread_local const AudioSource* deliveringSource = nullptr;
}  // namespace

void AudioSource::Stop() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (state_ == State::Starting) {
      state_ = State::StopAsked;  // Start reports the stop after Started
      return;
    }
    if (state_ != State::Running) return;
    state_ = State::Idle;
    held_.clear();
    // A Stop from inside a delivery cannot wait for itself; that delivery is the last one.
    if (deliveringSource != this) deliveriesDone_.wait(lock, [this] { return deliveries_ == 0; });
  }
  reportStopped();
}

void AudioSource::reportStopped() {
  NLOG(*this, 0, " Stop");
  Talvo::Utility::reportStop(handler_, contract());
}

namespace {
// What a stream that does not feed the source keeps for a hand-over: its blocks since the feeding
// stream's last one, normally one or two. A feeding stream that stalls must not let them pile up.
const size_t kMaxHeldBytes = 256 * 1024;
}  // namespace

void AudioSource::hold(uint32_t stream, const uint8_t* data, size_t size) {
  std::deque<Block>& blocks = held_[stream];
  blocks.emplace_back(data, data + size);
  size_t bytes = 0;
  for (const Block& block : blocks) bytes += block.size();
  while (bytes > kMaxHeldBytes) {
    bytes -= blocks.front().size();
    blocks.pop_front();
  }
}

void AudioSource::streamEnded(uint32_t stream) {
  std::optional<uint32_t> next;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool wasFeeding = fedBy_ == stream;
    held_.erase(stream);
    if (!wasFeeding) return;
    // The stream's last block is out: the next stream's held blocks go first when it sends again.
    fedBy_ = next = device_->nextLiveStream(channel_, stream);
  }
  if (next) NLOG(*this, 0, " Audio now from stream " << *next);
}

void AudioSource::onAudioFrame(uint32_t stream, const uint8_t* data, size_t size) {
  if (data == nullptr || size == 0 || factory_ == nullptr) return;
  std::deque<Block> backlog;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::Running) return;
    if (!fedBy_) fedBy_ = stream;  // no stream ran at Start, or the last one ended
    if (*fedBy_ != stream) {
      hold(stream, data, size);
      return;
    }
    const auto own = held_.find(stream);
    if (own != held_.end()) backlog = std::move(own->second);
    held_.clear();  // the other streams' blocks so far carry what this block and its forerunners did
    ++deliveries_;
  }
  struct DeliveryEnd {
    AudioSource& source;
    ~DeliveryEnd() {
      deliveringSource = nullptr;
      {
        std::lock_guard<std::mutex> lock(source.mutex_);
        --source.deliveries_;
      }
      source.deliveriesDone_.notify_all();
    }
  } end{*this};
  deliveringSource = this;
  for (const Block& block : backlog) {
    deliver(block.data(), block.size());
    if (!running()) return;  // stopped from inside that frame: nothing follows Stopped
  }
  deliver(data, size);
}

bool AudioSource::running() {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_ == State::Running;
}

// Called between the count-in and the count-out of onAudioFrame, without a lock.
void AudioSource::deliver(const uint8_t* data, size_t size) {
  Talvo::MFF::IAudioBuffer* buffer = factory_->AllocateAudioBuffer("G.711", size, 0, 64000, 0);
  if (!buffer) return;
  const uint64_t frames = ++frames_;
  if (frames == 1 || frames % 1000 == 0) NLOG(*this, 0, " Reported " << frames << " audio frames.");
  std::memcpy(buffer->GetBuffer(), data, size);
  if (handler_)
    handler_->MultimediaFrame(contract(), buffer);
  else
    buffer->Destroy();
}

void AudioSource::applyPendingSettings() {
  while (parameters_.hasPending()) doApplySettings();
}

void AudioSource::doApplySettings() {
  Talvo::Utility::ParamsMap set;
  Talvo::IAsyncActionHandler* handler = nullptr;
  if (!parameters_.popParameters(set, handler)) return;
  parameters_.updateParams(set);
  int result = 1;
  try {
    std::string path = "/control/control?set&section=audio";
    const auto volume = set.find("volume");
    if (volume != set.end()) path += "&PREAMPLIFIER=" + std::to_string(boost::any_cast<int>(volume->second));
    result = Talvo::http::httpGet(device_->cameraConnection(), path, nullptr, Talvo::asio::DEFAULT_CONNECT_TIMEOUT);
  } catch (const std::exception& e) {
    NLOG(*this, 3, " std::exception: " << e.what());
    result = 1;
  }
  if (handler) handler->Finished(contract(), result);
}

}  // namespace Vantrel
