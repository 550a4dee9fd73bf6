#include "IODevice.h"
#include "ChannelLogger.h"

#include <boost/asio/post.hpp>
#include <boost/format.hpp>

#include "Device.h"
#include "Nuvlet/include/Contract.h"
#include "SignalLines.h"
#include "host/Nuvlet/HttpBlocking.h"
#include "host/Nuvlet/HttpCategory.h"
#include "host/Nuvlet/StopReport.h"
#include "host/Nuvlet/Time.h"

namespace Vantrel {

namespace {

const int32_t kOutOfLimits = 6;
const int32_t kNotRunning = 12;
const int32_t kNoAnswer = 256;
const uint64_t kMismatchLogInterval = 30000;  // ms

}  // namespace

IODevice::IODevice(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, Device* device)
    : Talvo::LoggerOwner(channelLogger(device, (boost::format("io: %1%") % channel).str())),
      handler_(handler),
      channel_(channel),
      device_(device),
      timer_(io_) {
  const auto& channels = device->modelEntry().ioDevices;
  if (channel < channels.size()) {
    inputCount_ =
        static_cast<uint32_t>(std::max(0, Talvo::GDRV::intProperty(channels[channel].parameters, "rayCount")));
    outputCount_ =
        static_cast<uint32_t>(std::max(0, Talvo::GDRV::intProperty(channels[channel].parameters, "relayCount")));
  }
  if (inputCount_ > kSignalLines) {
    NLOG(*this, 2,
         " The model lists " << inputCount_ << " inputs, the camera's answer carries " << kSignalLines
                             << ": inputs from " << kSignalLines << " on are not reported");
    inputCount_ = kSignalLines;
  }
}

IODevice::~IODevice() = default;

void* IODevice::QueryContract(const char* typeName) {
  using Talvo::Utility::Path;
  return Talvo::Utility::castTo<Path<Talvo::IContract, Talvo::GDRV::IIODevice>, Path<Talvo::GDRV::IIODevice>,
                                Path<Talvo::GDRV::IDeviceChannel>>(this, typeName);
}

bool IODevice::onWorker() {
  std::lock_guard<std::mutex> lock(mutex_);
  return worker_.get_id() == std::this_thread::get_id();
}

void IODevice::Start() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (worker_.joinable() || selfDelete_) return;  // running, or ending
    stopping_ = false;
    errorReported_ = false;  // the worker is not running: nothing else touches it now
    io_.restart();
    bool idle = true;
    if (timerIdle_.compare_exchange_strong(idle, false)) armTimer();
    worker_ = std::thread([this] { workerMain(); });
  }
  handler_->Started(contract());
}

void IODevice::Stop() { stopWorker(true); }

// Every Stop is answered with Stopped; Destroy reports it only for a channel that ran, since the
// host may let the handler go once Destroy returns.
void IODevice::stopWorker(bool reportWhenIdle) {
  std::thread finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    timerIdle_ = true;
    stopping_ = true;
    // Only a running worker may take the cancel: queued without one, it would run first on the
    // next Start and cancel the poll that Start arms.
    if (worker_.joinable()) boost::asio::post(io_, [this] { timer_.cancel(); });
    if (poll_) poll_->cancel();  // a poll in progress ends at once
    if (worker_.get_id() == std::this_thread::get_id()) {
      NLOG(*this, 3,
           " std::exception:"
               << "boost thread: trying joining itself");
      endsItself_ = true;  // from a handler call: the worker ends after it and reports Stopped
      return;
    }
    finished = std::move(worker_);
  }
  const bool wasRunning = finished.joinable();
  if (wasRunning) finished.join();
  if (wasRunning || reportWhenIdle) Talvo::Utility::reportStop(handler_, contract());
}

void IODevice::Destroy() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (worker_.get_id() == std::this_thread::get_id()) {
      selfDelete_ = true;
      endsItself_ = true;
      timerIdle_ = true;
      stopping_ = true;
      timer_.cancel();  // on the worker: safe
      return;           // deleted when the worker ends
    }
  }
  stopWorker(false);
  delete this;
}

void IODevice::SetOutput(Talvo::GDRV::IDigitalOutputHandler* handler, int32_t output, bool active) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A running worker takes the switch before it can end (Stop needs this lock first).
    if (worker_.joinable() && !stopping_) {
      boost::asio::post(io_, [this, handler, output, active] { switchOutput(handler, output, active); });
      return;
    }
  }
  // No worker would ever run it (not started, stopped, or about to be destroyed): answered now.
  if (handler) handler->OutputChanged(contract(), kNotRunning);
}

// ---- Worker thread ----

void IODevice::workerMain() {
  io_.run();
  std::unique_lock<std::mutex> lock(mutex_);
  if (!endsItself_) return;  // the stopping thread joins this one and reports Stopped
  // Stop or Destroy came from a handler call on this thread and could not wait for it.
  endsItself_ = false;
  worker_.detach();
  Talvo::GDRV::IIODeviceHandler* const handler = handler_;
  Talvo::IContract* const source = contract();
  const bool deleteSelf = selfDelete_;
  lock.unlock();
  if (deleteSelf) delete this;
  Talvo::Utility::reportStop(handler, source);  // only posts; `this` may be gone
}

bool IODevice::stopping() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

void IODevice::armTimer() {
  timer_.expires_after(kPollPeriod);
  timer_.async_wait([this](const boost::system::error_code& error) {
    pollAlarmStatus(error);
    if (!error && !timerIdle_) armTimer();
  });
}

void IODevice::pollAlarmStatus(const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted) return;
  if (error) {
    NLOG(*this, 3, " Timer was fired with error:" << error.message());
    return;
  }
  Talvo::asio::ConnectionInfo info;
  try {
    info = device_->cameraConnection();
  } catch (const Talvo::asio::ConnectionTextError&) {
    return reportFailure(
        Talvo::Utility::translateSystemError(Talvo::error::make_error_code(Talvo::error::bad_request)));
  }
  Talvo::http::HttpSession session(info, logger());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    poll_ = &session;
  }
  Talvo::http::HttpResponse response;
  std::string body;
  boost::system::error_code requestError;
  const bool answered = session.get("/control/rcontrol?action=rs232sigin", response, body, requestError);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    poll_ = nullptr;
    if (stopping_) return;  // cancelled by Stop: not the camera's fault
  }
  if (!answered) {
    NLOG(*this, 3, " HttpResponseSP response is empty");
    return reportFailure(kNoAnswer);
  }
  if (!response.isSuccess() || body.empty()) {
    NLOG(*this, 3, " HTTP result error");
    return reportFailure(Talvo::http::translateResponseError(response));
  }
  applySignalLines(body);
}

void IODevice::applySignalLines(const std::string& body) {
  const auto lines = readSignalLines(body);
  if (!lines) {
    const uint64_t now = Talvo::Utility::timeStamp();
    if (now - lastMismatchLog_ > kMismatchLogInterval) {
      NLOG(*this, 3, " Input data does not match the specified structure");
      lastMismatchLog_ = now;
    }
    return;
  }
  for (uint32_t input = 0; input < inputCount_; ++input) {
    const bool active = (*lines)[input] != "0";
    const bool known = ((inputStates_ >> input) & 1u) != 0;
    if (active == known && !errorReported_) continue;
    inputStates_ = active ? inputStates_ | (1u << input) : inputStates_ & ~(1u << input);
    handler_->InputChanged(contract(), static_cast<int32_t>(input), active, Talvo::Utility::timeStamp());
    if (stopping()) return;  // stopped from that call: nothing more reaches the host
  }
  errorReported_ = false;
}

void IODevice::reportFailure(int32_t code) {
  if (errorReported_) return;
  errorReported_ = true;
  handler_->Failed(contract(), code);
}

void IODevice::switchOutput(Talvo::GDRV::IDigitalOutputHandler* handler, int32_t output, bool active) {
  int32_t code = kOutOfLimits;
  if (output >= 0 && static_cast<uint32_t>(output) < outputCount_)
    code = device_->getFromCamera(std::string("/control/rcontrol?action=") + (active ? "sigouthigh" : "sigoutlow"),
                                  logger());
  if (handler) handler->OutputChanged(contract(), code);
}

}  // namespace Vantrel
