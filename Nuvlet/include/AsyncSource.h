// Talvo::Utility::AsyncSource: the start/stop state machine of a channel whose connection work
// runs on a private io_context with one worker thread (the RTSP video source). Compiled into
// the module.
//
// Derived supplies (called on the worker unless said otherwise):
//   createStatistics()  - host thread, in Start: a unique_ptr to an object deriving from
//                         StatisticReporter, FramesStatistic and ConnectsStatistic;
//   scheduleReconnect(delay) - host thread in Start, before the worker runs (StreamSource);
//   stopStep()          - ends the running connection (posted by Stop);
//   contract()          - the channel as the host knows it;
//   a LoggerOwner base  - log lines of this template name "Nuvlet/include/AsyncSource".
// Threads: Start, Stop and Destroy come from host threads, never from the channel's own
// callbacks (they join the worker). They are serialised by a mutex that is never held while the
// host is called. Failed, frames and Started reach the host on the worker; Stopped on the
// process-wide service, behind the channel's statistics lines.
// Ownership: the host owns the channel until Destroy; `device` outlives it.
#pragma once

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>

#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/thread/thread.hpp>

#include "host/GDRV.h"
#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/Statistics.h"
#include "host/Nuvlet/StopReport.h"

namespace Talvo {
namespace Utility {

template <class Interface, class Derived, class DeviceT>
class AsyncSource : public Interface {
 public:
  AsyncSource(GDRV::IAsyncDeviceChannelHandler* handler, DeviceT* device) : handler_(handler), device_(device) {}
  ~AsyncSource() override = default;

  void Start() override {
    std::lock_guard<std::mutex> lock(controlMutex_);
    if (worker_.joinable()) {
      NLOG(derived(), 3, " Skip starting, as already started");
      return;
    }
    NLOG(derived(), 0, " Starting");
    int expected = 0;
    if (!running_.compare_exchange_strong(expected, 1)) return;
    auto statistics = derived().createStatistics();
    frames_ = statistics.get();
    connects_ = statistics.get();
    statistics_ = std::move(statistics);
    io_.restart();
    derived().scheduleReconnect(boost::posix_time::neg_infin);
    boost::asio::post(io_, [this] {
      if (handler_) handler_->Started(derived().contract());
    });
    worker_ = boost::thread([this] { io_.run(); });
    NLOG(derived(), 0, " Started");
  }

  void Stop() override {
    std::lock_guard<std::mutex> lock(controlMutex_);
    stopLocked();
  }

  void Destroy() override {
    {
      std::lock_guard<std::mutex> lock(controlMutex_);
      if (worker_.joinable()) stopLocked();
    }
    delete &derived();
  }

 protected:
  bool running() const { return running_.load() == 1; }
  boost::asio::io_context& ioContext() { return io_; }
  GDRV::IAsyncDeviceChannelHandler* handler() const { return handler_; }
  DeviceT* device() const { return device_; }
  // The worker's statistics; null outside Start..Stop.
  FramesStatistic* framesStatistic() const { return frames_; }
  ConnectsStatistic* connectsStatistic() const { return connects_; }
  // Hook of StreamSource: cancels an armed reconnect (worker).
  virtual void cancelReconnect() {}

 private:
  Derived& derived() { return static_cast<Derived&>(*this); }

  void stopLocked() {
    if (!worker_.joinable()) {
      NLOG(derived(), 3, " Skip stopping, as not started");
      reportStop(handler_, derived().contract());
      return;
    }
    NLOG(derived(), 0, " Stopping");
    int expected = 1;
    if (!running_.compare_exchange_strong(expected, 0)) return;
    // The worker owns the timer and the connection: both are ended there; then it runs dry.
    boost::asio::post(io_, [this] {
      cancelReconnect();
      derived().stopStep();
    });
    try {
      worker_.join();
    } catch (const std::exception& e) {
      NLOG(derived(), 3, " std::exception:" << e.what());
    }
    worker_ = boost::thread();
    NLOG(derived(), 0, " Stopped");
    frames_ = nullptr;
    connects_ = nullptr;
    const std::unique_ptr<StatisticReporter> statistics = std::move(statistics_);
    statistics->reportStopAfterLastLine();
  }

  GDRV::IAsyncDeviceChannelHandler* handler_;
  DeviceT* device_;
  std::mutex controlMutex_;  // Start, Stop, Destroy
  std::atomic<int> running_{0};
  boost::asio::io_context io_;
  boost::thread worker_;
  std::unique_ptr<StatisticReporter> statistics_;
  FramesStatistic* frames_ = nullptr;
  ConnectsStatistic* connects_ = nullptr;
};

}  // namespace Utility
}  // namespace Talvo
