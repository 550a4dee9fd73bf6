// A tiny driver module for qrmhost's tests: model "VX-S10" of vendor "Vantrel" only. Its device
// reports "connected" from a thread of its own; its video source delivers pictures until
// stopped, its audio source audio blocks. It checks what a module may expect of a host (the
// directory handed to initModule, contract casts, the frame factory's size cap) and logs what
// it finds so that the tests can read it on stderr.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "host/Contract.h"
#include "host/GDRV.h"
#include "host/MFF.h"

using namespace Talvo;
using namespace Talvo::GDRV;

namespace {

ILogger* logger = nullptr;  // set by initModule, valid until finiModule

#define FAKE_LOG(level, message) fakeLog(level, __LINE__, __func__, message)

void fakeLog(int level, int line, const char* function, const std::string& message) {
  if (logger && (logger->GetLevel() == 0 || logger->GetLevel() <= level))
    logger->Log(level, __FILE__, line, function, message.c_str());
}

// Answers a cast to any of `First, Rest...` and to IContract (as seen through First).
template <class First, class... Rest, class Object>
void* answer(Object* object, const char* typeName) {
  void* found = isContractName<IContract>(typeName) || isContractName<First>(typeName)
                    ? static_cast<IContract*>(static_cast<First*>(object))
                    : nullptr;
  ((found = !found && isContractName<Rest>(typeName) ? static_cast<Rest*>(object) : found), ...);
  return found;
}

// A channel whose worker calls produce() every `period` from Start until Stop; Stop joins it.
template <class Interface, class Handler>
class Channel : public Interface {
 public:
  Channel(Handler* handler, MFF::IMultimediaFrameFactory* factory, std::chrono::milliseconds period)
      : handler_(handler), factory_(factory), period_(period) {}
  void Destroy() override {
    Stop();
    delete this;
  }
  uint32_t GetChannel() override { return 0; }
  void Start() override {
    if (thread_.joinable()) return;
    starting();
    stopping_ = false;
    thread_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!stopping_) {
        lock.unlock();
        produce();
        lock.lock();
        changed_.wait_for(lock, period_, [this] { return stopping_; });
      }
    });
  }
  void Stop() override {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
    handler_->Stopped(self());
  }

 protected:
  IContract* self() { return static_cast<Interface*>(this); }
  virtual void starting() {}
  virtual void produce() = 0;

  Handler* const handler_;
  MFF::IMultimediaFrameFactory* const factory_;

 private:
  const std::chrono::milliseconds period_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::thread thread_;
};

class FakeVideoSource : public Channel<IVideoSource, IVideoSourceHandler>, public IAsyncAdjuster {
 public:
  FakeVideoSource(IVideoSourceHandler* handler, MFF::IMultimediaFrameFactory* factory, uint32_t stream)
      : Channel(handler, factory, std::chrono::milliseconds(10)), stream_(stream) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return answer<IVideoSource, IDeviceChannel, IAsyncAdjuster>(this, typeName);
  }
  uint32_t GetStream() override { return stream_; }
  void RequestKeyFrame(IAsyncActionHandler* handler) override { handler->Finished(self(), 0); }
  int32_t SetBlockConfiguration(bool) override { return 1; }

  void SetValue(const char* name, bool value) override { note(name, value ? "true" : "false", "bool"); }
  void SetValue(const char* name, int value) override { note(name, std::to_string(value), "int"); }
  void SetValue(const char* name, double value) override {
    std::string text = std::to_string(value);
    text.erase(text.find_last_not_of('0') + 1);  // 0.500000 -> 0.5, 3.000000 -> 3.
    if (text.back() == '.') text.pop_back();
    note(name, text, "double");
  }
  void SetValue(const char* name, const char* value) override { note(name, value, "string"); }

  // Reports what was set as a statistics line, then finishes with 0.
  void ApplySettings(IAsyncActionHandler* handler) override {
    handler_->StatisticUpdated(self(), "settings", settings_.c_str());
    handler->Finished(self(), 0);
  }

 private:
  void note(const char* name, const std::string& value, const char* type) {
    settings_ += (settings_.empty() ? "" : ";") + std::string(name) + "=" + value + "(" + type + ")";
  }

  // The host must refuse a buffer far larger than any picture.
  void starting() override {
    MFF::ICompressedBuffer* huge = factory_->AllocateCompressedBuffer("MJPEG", size_t(1) << 30, 0, true);
    FAKE_LOG(huge ? 3 : 2, huge ? "the factory gave an oversized buffer" : "the factory refused an oversized buffer");
    if (huge) huge->Destroy();
  }

  // Pictures cycle: Zelta key, Zelta delta, MJPEG. One more buffer per turn is never delivered
  // and so destroyed here, as a module does with a picture it drops.
  void produce() override {
    if (count_++ == 0) handler_->Started(self());
    const int turn = (count_ - 1) % 3;
    const char* codec = turn == 2 ? "MJPEG" : "Zelta";
    const std::string bytes = "picture " + std::to_string(count_);
    MFF::ICompressedBuffer* picture = factory_->AllocateCompressedBuffer(codec, bytes.size(), 0, turn != 1);
    MFF::ICompressedBuffer* dropped = factory_->AllocateCompressedBuffer(codec, 16, 0, false);
    if (dropped) dropped->Destroy();
    if (!picture) return handler_->Failed(self(), 12);
    std::memcpy(picture->GetBuffer(), bytes.data(), bytes.size());
    picture->SetTimeStamp(1000u * count_);
    handler_->MultimediaFrame(self(), picture);
    if (count_ == 1) handler_->StatisticUpdated(self(), "video", "first picture sent");
  }

  const uint32_t stream_;
  int count_ = 0;         // worker thread only
  std::string settings_;  // caller's thread only
};

// The first block comes before Start returns, so that even a short run has one.
class FakeAudioSource : public Channel<IAudioSource, IAudioSourceHandler> {
 public:
  FakeAudioSource(IAudioSourceHandler* handler, MFF::IMultimediaFrameFactory* factory)
      : Channel(handler, factory, std::chrono::milliseconds(20)) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override { return answer<IAudioSource, IDeviceChannel>(this, typeName); }

 private:
  void starting() override {
    handler_->Started(this);
    produce();
  }
  void produce() override {
    MFF::IAudioBuffer* block = factory_->AllocateAudioBuffer("G711", 160, 0, 64000, MFF::AUDIO_G7XX_ENCODING_ULAW);
    if (block) handler_->MultimediaFrame(this, block);
  }
};

class FakeDevice : public IDevice {
 public:
  explicit FakeDevice(IDeviceHandler* handler) : handler_(handler) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override { return answer<IDevice>(this, typeName); }

  // Reports "connected" from a thread of its own, as a real device would after its first answer.
  void Connect(const char*) override {
    joinConnector();
    connector_ = std::thread([this] { handler_->StateChanged(this, DEVICE_CONNECTED, 0); });
  }
  void Disconnect() override {
    joinConnector();
    handler_->StateChanged(this, DEVICE_DISCONNECTED, 0);
  }
  void Destroy() override {
    joinConnector();
    delete this;
  }

  IVideoSource* CreateVideoSource(IVideoSourceHandler* handler, uint32_t channel, uint32_t stream,
                                  MFF::IMultimediaFrameFactory* factory) override {
    if (channel != 0 || stream > 1 || !answersCasts(handler)) return nullptr;
    return new FakeVideoSource(handler, factory, stream);
  }
  IAudioSource* CreateAudioSource(IAudioSourceHandler* handler, uint32_t channel,
                                  MFF::IMultimediaFrameFactory* factory) override {
    return channel == 0 ? new FakeAudioSource(handler, factory) : nullptr;
  }
  IAudioDestination* CreateAudioDestination(IAudioDestinationHandler*, uint32_t) override { return nullptr; }
  IIODevice* CreateIODevice(IIODeviceHandler*, uint32_t) override { return nullptr; }
  ITelemetry* CreateTelemetry(uint32_t) override { return nullptr; }
  IDeviceChannel* CreateTextEventSource(IAsyncDeviceChannelHandler*, uint32_t) override { return nullptr; }
  IVideoAnalytics* CreateVideoAnalytics(IVideoAnalyticsHandler*, uint32_t, const char*) override { return nullptr; }
  IContract* CreateAudioAnalytics(IContract*, uint32_t, const char*) override { return nullptr; }
  IContract* CreateMetadataSource(IContract*, uint32_t) override { return nullptr; }

 private:
  // A host's handler answers for each of its interfaces and for IContract.
  static bool answersCasts(IVideoSourceHandler* handler) {
    const bool answers = contract_cast<IVideoSourceHandler>(handler) == handler &&
                         contract_cast<IAsyncDeviceChannelHandler>(handler) != nullptr &&
                         contract_cast<IContract>(handler) != nullptr && contract_cast<IDevice>(handler) == nullptr;
    if (!answers) FAKE_LOG(3, "the video source handler does not answer its casts");
    return answers;
  }
  void joinConnector() {
    if (connector_.joinable()) connector_.join();
  }

  IDeviceHandler* const handler_;
  std::thread connector_;
};

class FakeModule : public IModule {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override { return answer<IModule>(this, typeName); }
  IAutodetect* CreateAutodetect(IAutodetectHandler*) override { return nullptr; }
  IDeviceSearch* CreateDeviceSearch(IDeviceSearchHandler*) override { return nullptr; }
  IDevice* CreateDevice(IDeviceHandler* handler, const char* vendor, const char* model, const char*) override {
    if (std::strcmp(vendor, "Vantrel") != 0 || std::strcmp(model, "VX-S10") != 0) return nullptr;
    if (contract_cast<IDeviceHandler>(handler) == handler) return new FakeDevice(handler);
    FAKE_LOG(3, "the device handler does not answer its cast");
    return nullptr;
  }
};

FakeModule theModule;

}  // namespace

extern "C" bool initModule(IModuleHost* host, const char* moduleDirectory) {
  if (std::getenv("FAKE_MODULE_REFUSE") || !host) return false;
  ILogger* hostLogger = host->GetLogger();
  if (contract_cast<IModuleHost>(host) != host || contract_cast<ILogger>(hostLogger) != hostLogger ||
      contract_cast<IContract>(hostLogger) == nullptr || contract_cast<IModuleHost>(hostLogger) != nullptr)
    return false;
  logger = hostLogger;
  // The repository sits beside the module: the directory must be the module's own.
  if (!std::getenv("FAKE_MODULE_SKIP_REPOSITORY") &&
      !std::ifstream(std::string(moduleDirectory) + "/fake_module.rep")) {
    FAKE_LOG(3, std::string("no repository in ") + moduleDirectory);
    logger = nullptr;
    return false;
  }
  FAKE_LOG(0, "fake module started");
  FAKE_LOG(2, "fake module ready");
  return true;
}

extern "C" IModule* getModule() { return &theModule; }

extern "C" void finiModule() {
  FAKE_LOG(0, "fake module finished");
  logger = nullptr;
}
