#include "EventStream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <boost/asio/post.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "Device.h"
#include "Nuvlet/include/HttpAnswerHead.h"
#include "Nuvlet/include/HttpDigest.h"
#include "ZL_ThermalRawData.h"
#include "Zelta_NetworkConnectionImpl.h"
#include "Zelta_Print.h"
#include "Zelta_SDK.h"
#include "Zelta_SourceAsyncNet.h"
#include "Zelta_ThermalKernels.h"

namespace Vantrel {

namespace {

using boost::posix_time::microsec_clock;
using boost::posix_time::ptime;

constexpr uint16_t kMaxRaw = 16383;  // 14 bits

int64_t nowUs() {
  static const ptime epoch(boost::gregorian::date(1970, 1, 1));
  return (microsec_clock::universal_time() - epoch).total_microseconds();
}

ptime fromUs(int64_t us) {
  static const ptime epoch(boost::gregorian::date(1970, 1, 1));
  return epoch + boost::posix_time::microseconds(us);
}

// ---- The SDK's messages: each worker names its logger and its password for its own thread; the
// process-wide sink (installed once) forwards there, with the password taken out. Messages of
// SDK users without such a logger (the recording playback's parser) are dropped as before.
struct SdkLogTarget {
  const Talvo::LoggerOwner* logger = nullptr;
  std::string password;
};
thread_local SdkLogTarget t_sdkTarget;

std::string withoutPassword(std::string text, const std::string& password) {
  if (password.empty()) return text;
  for (size_t at = text.find(password); at != std::string::npos; at = text.find(password, at))
    text.replace(at, password.size(), "***");
  return text;
}

void installSdkSink() {
  static std::once_flag once;
  std::call_once(once, [] {
    Zelta::Zelta_Print::setSink([](Zelta::Zelta_PrintKind kind, const std::string& text) {
      const SdkLogTarget& target = t_sdkTarget;
      if (!target.logger) return;
      // Authorisation headers only appear in traces, which carry the request text.
      if (kind == Zelta::Zelta_PrintKind::Trace && text.find("Authorization:") != std::string::npos) return;
      NLOG(*target.logger, kind == Zelta::Zelta_PrintKind::Trace ? 0 : 1,
           " sdk:" << withoutPassword(text, target.password));
    });
  });
}

class SdkLogScope {
 public:
  SdkLogScope(const Talvo::LoggerOwner& logger, const std::string& password) {
    installSdkSink();
    t_sdkTarget.logger = &logger;
    t_sdkTarget.password = password;
  }
  ~SdkLogScope() { t_sdkTarget = SdkLogTarget(); }
};

// ---- The SDK's client objects.

// The stream's audio is not used: the camera's audio output is switched off, and what still
// arrives is taken as it comes and discarded (never resampled).
class SinkAudio : public Zelta::Zelta_SinkAudio {
 public:
  int consume(std::shared_ptr<Zelta::Zelta_Audio>) override { return 1; }
  int acceptsAudio() const override { return 1; }
  int acceptsFormatChanges() const override { return 1; }
  int wantsConversion() const override { return 1; }
  int allowsResampling() const override { return 0; }
};

class NotificationListener : public Zelta::Zelta_EventNotificationListener {
 public:
  explicit NotificationListener(const Talvo::LoggerOwner& logger) : logger_(logger) {}
  void notifyEvent(int32_t id, const char* text) override {
    NLOG(logger_, 0, " event: " << id << ": " << (text ? text : ""));
  }

 private:
  const Talvo::LoggerOwner& logger_;
};

// The camera's credentials, and its requests authorised as every other request to that camera
// (Basic up front, Digest once the camera asked for it).
class AuthorizationHandler : public Zelta::Zelta_AuthorizationHandler {
 public:
  AuthorizationHandler(const Talvo::LoggerOwner& logger, Talvo::asio::ConnectionInfo camera)
      : logger_(logger), camera_(std::move(camera)), user_(camera_.user), password_(camera_.password) {}
  bool authorization(const char* method, const char* uri, std::string& value) override {
    value = Talvo::http::cameraAuthorization(camera_, method, uri);
    return true;
  }
  void challenged(const char* answerHead) override {
    const std::string head = answerHead ? answerHead : "";
    Talvo::http::HttpResponse answer;
    const size_t statusLine = Talvo::http::parseStatusLine(head.data(), head.data() + head.size(), answer);
    if (statusLine == 0) return;
    Talvo::http::parseHeaders(head.data() + statusLine, head.data() + head.size(), answer.headers);
    Talvo::http::acceptCameraChallenges(camera_, answer.headers);
  }
  bool getUserName(char* buffer, size_t size) override { return copy(user_, buffer, size); }
  bool getPassword(char* buffer, size_t size) override { return copy(password_, buffer, size); }
  bool needsAuthorization(const char*) override { return true; }
  void authenticationFailed() override { NLOG(logger_, 3, " Authentication failed"); }
  void connectionAborted() override { NLOG(logger_, 3, " Connection aborted"); }
  int maxAuthorizationAttempts() override { return 3; }
  bool reconnectAfterAuthFailure() override { return false; }

 private:
  static bool copy(const std::string& text, char* buffer, size_t size) {
    if (size == 0) return false;
    const size_t length = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return true;
  }
  const Talvo::LoggerOwner& logger_;
  const Talvo::asio::ConnectionInfo camera_;
  const std::string user_;
  const std::string password_;
};

// The camera's event stream URL; the SDK speaks plain HTTP only.
std::string streamUrl(const Talvo::asio::ConnectionInfo& camera) {
  Talvo::asio::ConnectionInfo plain = camera;
  if (plain.secure()) plain.port = 80;
  return "http://" + plain.hostAndPort() + "/control/eventstream.jpg";
}

}  // namespace

// ---- Conversion: the SDK's exact single-precision loops in the data's gain, which also tell
// whether any value had bits above the 14; only then is the first such value looked for.
long ThermalConversion::convert(const uint16_t* raw, size_t count, std::vector<float>& out, int gain) {
  out.resize(count);
  if (!Zelta::celsiusKernel().fromValues(raw, out.data(), count, Zelta::celsiusScale(gain))) return kConverted;
  return static_cast<long>(std::find_if(raw, raw + count, [](uint16_t v) { return v > kMaxRaw; }) - raw);
}

// The SDK converts straight from the camera's byte planes in the gain the blocks announce and
// tells whether any value was above 16383; such a frame is searched for its first broken value
// in the 16-bit values (which the SDK builds on request), as is data of another bit depth.
long ThermalConversion::convert(Zelta::ZL_ThermalRawData& data, std::vector<float>& out) {
  if (data.bitDepth() == Zelta::ZLT_BitDepth_14) {
    bool aboveRange = false;
    if (!data.getCelsius(out, aboveRange)) return kNoData;
    if (!aboveRange) return kConverted;
  }
  const size_t count = static_cast<size_t>(data.width()) * data.height();
  const uint16_t* raw = data.data();
  if (!raw || data.dataSize() < count * sizeof(uint16_t)) return kNoData;
  return convert(raw, count, out, data.gain());
}

// The video sink: every picture's thermal raw data, sensor 1 first.
class EventStream::PictureSink : public Zelta::Zelta_SinkVideo {
 public:
  explicit PictureSink(EventStream& stream) : stream_(stream) {}
  int consume(std::unique_ptr<Zelta::Zelta_Image> image) override {
    const Zelta::Zelta_ImageTime time = image->frameTime();
    const uint64_t timeMs = static_cast<uint64_t>(time.seconds * 1000 + time.microseconds / 1000);
    for (int sensor = 1; sensor >= 0; --sensor)
      if (const auto data = image->thermalRawData(sensor)) stream_.processThermalRawData(timeMs, *data);
    return 1;
  }

 private:
  EventStream& stream_;
};

EventStream::EventStream(Device& owner, boost::posix_time::time_duration watchdogPeriod)
    : owner_(&owner),
      logger_(owner.deviceLogger().logger(), owner.deviceLogger().prefix() + "[es]"),
      io_(owner.ioContext()),
      watchdogPeriod_(watchdogPeriod),
      watchdog_(owner.ioContext()) {}

EventStream::~EventStream() {
  std::lock_guard<std::mutex> lock(controlMutex_);
  stopWorker();
  boost::system::error_code ignored;
  watchdog_.cancel(ignored);
}

EventStream::UserId EventStream::start(Callback callback) {
  UserId id;
  bool first;
  {
    std::lock_guard<std::mutex> lock(usersMutex_);
    id = nextUser_++;
    first = users_.empty();
    users_.emplace(id, std::move(callback));
  }
  if (first) {
    std::lock_guard<std::mutex> lock(controlMutex_);
    startWorker();
  }
  return id;
}

void EventStream::stop(UserId user) {
  bool last;
  {
    std::lock_guard<std::mutex> lock(usersMutex_);
    if (!users_.erase(user)) return;
    last = users_.empty();
  }
  if (!last) return;
  std::lock_guard<std::mutex> lock(controlMutex_);
  stopWorker();
  auto self = shared_from_this();
  boost::asio::post(io_, [self] {
    boost::system::error_code ignored;
    self->watchdog_.cancel(ignored);
  });
}

bool EventStream::running() const {
  std::lock_guard<std::mutex> lock(controlMutex_);
  return worker_.joinable();
}

void EventStream::startWorker() {
  if (worker_.joinable()) return;
  Talvo::asio::ConnectionInfo camera;
  try {
    camera = owner_->cameraConnection();
  } catch (const std::exception& e) {
    NLOG(logger_, 3, " Camera connection unknown: " << e.what());
    return;
  }
  stopFlag_.store(0);
  reconnectFlag_.store(0);
  ++starts_;
  const int64_t started = nowUs();
  lastDataUs_.store(started);
  worker_ = boost::thread([this, camera] { run(camera); });
  workerRunning_.store(true);
  std::weak_ptr<EventStream> weak = weak_from_this();
  const ptime deadline = fromUs(started) + watchdogPeriod_;
  boost::asio::post(io_, [weak, deadline] {
    if (auto self = weak.lock()) self->armWatchdog(deadline);
  });
}

void EventStream::stopWorker() {
  if (!worker_.joinable()) return;
  NLOG(logger_, 0, " Stoping");
  {
    std::lock_guard<std::mutex> lock(idleMutex_);  // the worker may be about to wait for it
    int running = 0;
    stopFlag_.compare_exchange_strong(running, 1);
  }
  idleWake_.notify_all();
  worker_.join();
  worker_ = boost::thread();
  workerRunning_.store(false);
  NLOG(logger_, 0, " Stoped");
}

void EventStream::idle() {
  std::unique_lock<std::mutex> lock(idleMutex_);
  idleWake_.wait_for(lock, std::chrono::milliseconds(Zelta::Zelta_NetworkConnectionImpl::kReceiveWaitMs),
                     [this] { return leaveSession(); });
}

void EventStream::run(const Talvo::asio::ConnectionInfo& camera) {
  NLOG(logger_, 0, " Start thread");
  SdkLogScope sdkLog(logger_, camera.password);
  while (stopFlag_.load() == 0) {
    reconnectFlag_.store(0);
    session(camera);
  }
  NLOG(logger_, 0, " Exit thread");
}

void EventStream::session(const Talvo::asio::ConnectionInfo& camera) {
  try {
    auto sdk = Zelta::Zelta_SDK::create(
        std::make_shared<SinkAudio>(), std::make_shared<PictureSink>(*this), 0,
        std::make_shared<AuthorizationHandler>(logger_, camera),
        std::make_shared<NotificationListener>(logger_),
        std::make_shared<Zelta::Zelta_NetworkConnectionImpl>(std::chrono::milliseconds(kConnectTimeoutMs),
                                                             [this] { return leaveSession(); }));
    const std::string url = streamUrl(camera);
    if (sdk->stream_setup(url) != 1) {
      NLOG(logger_, 3, " Cannot set up the event stream " << url);
    } else {
      sdk->audioOutput(false);
      sdk->videoEnable(true);
      sdk->size(1, 1, false);
      sdk->thermalRaw(true);
      sdk->live();
      while (!leaveSession()) {
        sdk->stepLoop();
        const int status = sdk->networkStatus();
        if (status == Zelta::eNetStatus_Closed || status == Zelta::eNetStatus_Error) idle();
      }
    }
    sdk->close(false);
  } catch (const std::exception& e) {
    NLOG(logger_, 3, " Event stream failed: " << e.what());
  }
  // A failed setup waits for the watchdog's reconnect (or stop) instead of retrying at once.
  std::unique_lock<std::mutex> lock(idleMutex_);
  idleWake_.wait(lock, [this] { return leaveSession(); });
}

void EventStream::processThermalRawData(uint64_t timeMs, Zelta::ZL_ThermalRawData& data) {
  if (!data.advancedRadiometry()) return;
  const uint32_t width = data.width();
  const uint32_t height = data.height();
  if (data.gain() != 0) NLOG(logger_, 3, " Unexpected gain value");
  std::vector<float> temperatures = matrices_->take(static_cast<size_t>(width) * height);  // the matrix takes it over
  const long result = ThermalConversion::convert(data, temperatures);
  if (result != ThermalConversion::kConverted) {
    matrices_->giveBack(std::move(temperatures));
    if (result >= 0) reportBrokenFrame(data, static_cast<size_t>(result));
    return;
  }
  deliver(matrices_->matrix(timeMs, std::move(temperatures), width, height));
  lastDataUs_.store(nowUs());
}

void EventStream::reportBrokenFrame(Zelta::ZL_ThermalRawData& data, size_t index) {
  const uint16_t v = data.data()[index];
  const unsigned x = static_cast<unsigned>(index % data.width());
  const unsigned y = static_cast<unsigned>(index / data.width());
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(v));
  NLOG(logger_, 3,
       " Broken frame: Temp(" << index << ": " << x << "," << y << ")= " << data.getTemperature(x, y, 0)
                              << "!=" << -1000.0 << ", code=" << v << "(" << hex << ")");
}

void EventStream::deliver(const Talvo::Utility::FloatMatrixPtr& matrix) {
  std::vector<Callback> callbacks;
  {
    std::lock_guard<std::mutex> lock(usersMutex_);
    for (const auto& user : users_) callbacks.push_back(user.second);
  }
  for (const auto& callback : callbacks) callback(matrix);
}

void EventStream::armWatchdog(ptime deadline) {
  watchdog_.expires_at(deadline);
  std::weak_ptr<EventStream> weak = weak_from_this();
  watchdog_.async_wait([weak](const boost::system::error_code& error) {
    if (auto self = weak.lock()) self->onWatchdog(error);
  });
}

// Re-armed at the last data's time + the period while data comes; past it, the worker is asked
// to reconnect (it does so on its own thread: the device's thread never waits for it).
void EventStream::onWatchdog(const boost::system::error_code& error) {
  if (error || !workerRunning_.load()) return;  // cancelled, or stopped meanwhile
  const ptime dueAt = fromUs(lastDataUs_.load()) + watchdogPeriod_;
  const ptime now = microsec_clock::universal_time();
  if (now < dueAt) {
    armWatchdog(dueAt);
    return;
  }
  NLOG(logger_, 0, " No temperature data too long, trying to reconect");
  lastDataUs_.store(nowUs());
  ++starts_;
  {
    std::lock_guard<std::mutex> lock(idleMutex_);
    reconnectFlag_.store(1);
  }
  idleWake_.notify_all();
  armWatchdog(now + watchdogPeriod_);
}

std::shared_ptr<EventStream> EventStreamHolder::get() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!stream_) stream_ = std::make_shared<EventStream>(owner_, period_);
  return stream_;
}

void EventStreamHolder::setWatchdogPeriod(boost::posix_time::time_duration period) {
  std::lock_guard<std::mutex> lock(mutex_);
  period_ = period;
}

std::shared_ptr<EventStream> EventStreamHolder::current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stream_;
}

}  // namespace Vantrel
