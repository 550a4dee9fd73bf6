// The I/O channel of cameras whose inputs are the signal lines of their serial port (RXD, CTS,
// DSR) and whose one output is the signal output. A worker thread of its own polls the lines
// every 500 ms (plus the poll's own time) and reports each change; outputs are switched on the
// same thread.
//
// Threads: Start, Stop, SetOutput and Destroy on any host thread, also from the handler's calls
// (on the worker, Stop does not wait for the worker and Destroy deletes the channel when the
// worker ends). The handler is called on the worker, Stopped on the process-wide service; none
// after Stopped. Every Stop is answered with Stopped, also on a channel that was not running.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "host/GDRV.h"
#include "host/Nuvlet/Logging.h"

namespace Talvo {
namespace http {
class HttpSession;
}
}  // namespace Talvo

namespace Vantrel {

class Device;

class IODevice : public Talvo::GDRV::IIODevice, public Talvo::LoggerOwner {
 public:
  // `handler` and `device` outlive the channel.
  IODevice(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, Device* device);

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Destroy() override;
  uint32_t GetChannel() override { return channel_; }
  void Start() override;
  void Stop() override;
  // Switches output `output` (the camera has one signal output: any index below the model's
  // output count switches it); the result goes to `handler` from the worker, 6 for an index
  // outside the output count; 12 at once (on the caller's thread) while the channel is not running.
  void SetOutput(Talvo::GDRV::IDigitalOutputHandler* handler, int32_t output, bool active) override;

  static constexpr std::chrono::milliseconds kPollPeriod{500};
  // The camera's answer names three lines; a model listing more inputs gets these.
  static constexpr uint32_t kSignalLines = 3;

 private:
  // Stop, with Stopped also for a channel that was not running when `reportWhenIdle`.
  void stopWorker(bool reportWhenIdle);
  ~IODevice() override;
  Talvo::IContract* contract() { return static_cast<Talvo::GDRV::IIODevice*>(this); }
  bool onWorker();

  // ---- Worker thread ----
  void armTimer();
  void pollAlarmStatus(const boost::system::error_code& error);
  void applySignalLines(const std::string& body);
  void reportFailure(int32_t code);
  void switchOutput(Talvo::GDRV::IDigitalOutputHandler* handler, int32_t output, bool active);
  void workerMain();
  bool stopping();

  Talvo::GDRV::IIODeviceHandler* const handler_;
  const uint32_t channel_;
  Device* const device_;
  uint32_t inputCount_ = 0;
  uint32_t outputCount_ = 0;

  boost::asio::io_context io_;
  boost::asio::steady_timer timer_;
  std::atomic<bool> timerIdle_{true};  // arm the poll on the next Start; set by Stop

  // Worker thread only.
  uint32_t inputStates_ = 0;  // one bit per input
  bool errorReported_ = false;
  uint64_t lastMismatchLog_ = 0;

  std::mutex mutex_;  // guards the members below; never held while calling the host
  std::thread worker_;
  Talvo::http::HttpSession* poll_ = nullptr;  // the poll's session while it runs: Stop cancels it
  bool stopping_ = false;
  bool endsItself_ = false;  // Stop or Destroy came from the worker itself
  bool selfDelete_ = false;
};

}  // namespace Vantrel
