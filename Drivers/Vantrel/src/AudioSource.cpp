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
    // A Stop from inside a delivery cannot wait for itself; that delivery is the last one.
    if (deliveringSource != this) deliveriesDone_.wait(lock, [this] { return deliveries_ == 0; });
  }
  reportStopped();
}

void AudioSource::reportStopped() {
  NLOG(*this, 0, " Stop");
  Talvo::Utility::reportStop(handler_, contract());
}

void AudioSource::onAudioFrame(const uint8_t* data, size_t size) {
  if (data == nullptr || size == 0 || factory_ == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::Running) return;
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
  deliver(data, size);
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
