// Vantrel::EventStream: the camera's event stream ("/control/eventstream.jpg") read with the Zelta
// stream SDK on a worker thread of its own. It asks the camera for a minimal video stream with
// thermal raw data, turns every sensor's raw data of every picture into a matrix of temperatures
// in °C and hands it to its users' callbacks. The matrices' values come from a small pool and
// go back there when the last holder of a matrix releases it (see FloatMatrixPool). A watchdog
// on the device's I/O service restarts the worker when no temperatures came for a period (20 s).
// One stream per device (EventStreamHolder), shared by the device's temperatures channels: the
// first user starts the worker, the last one leaving stops it.
//
// Threads: start/stop on any thread but the worker (in practice the device's thread); callbacks
// run on the worker and must not call stop; the watchdog runs on the device's thread and never
// waits there: it asks the worker to reconnect (a new SDK session on the same thread). The
// worker is joined by stop within about a second whatever the camera does: the name lookup and
// the connect are bounded by kConnectTimeoutMs and given up at once when stopping, sends wait
// at most 100 ms per try, and every step waits at most 10 ms.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/thread/thread.hpp>

#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/FloatMatrixPool.h"
#include "host/Nuvlet/Logging.h"

namespace Zelta {
class ZL_ThermalRawData;
}

namespace Vantrel {

class Device;

// Raw sensor values (from 0 K; 0.04 K per step in gain 0, 0.4 K in gain 1) to °C in row order,
// or the frame is broken (a value above 16383).
struct ThermalConversion {
  static constexpr long kConverted = -1;
  static constexpr long kNoData = -2;  // the SDK printed why

  // The index of the first broken value, or kConverted when every value converted into `out`
  // (resized to count; its earlier values are overwritten, not cleared first).
  static long convert(const uint16_t* raw, size_t count, std::vector<float>& out, int gain = 0);
  // The same for one sensor's raw data of a picture (width × height values, in the gain the
  // data reports), or kNoData.
  static long convert(Zelta::ZL_ThermalRawData& data, std::vector<float>& out);
};

class EventStream : public std::enable_shared_from_this<EventStream> {
 public:
  // The frame's matrix (time ms, width, height, temperatures in row order), shared by all users.
  using Callback = std::function<void(const Talvo::Utility::FloatMatrixPtr&)>;
  using UserId = uint64_t;

  static constexpr long kDefaultWatchdogSeconds = 20;
  // A camera that neither accepts nor refuses the connection within this time is tried again by
  // the watchdog; it bounds how long stop can take while connecting.
  static constexpr int kConnectTimeoutMs = 800;

  EventStream(Device& owner, boost::posix_time::time_duration watchdogPeriod);
  ~EventStream();
  EventStream(const EventStream&) = delete;
  EventStream& operator=(const EventStream&) = delete;

  // Adds a user; the first one starts the worker. The callback runs on the worker.
  UserId start(Callback callback);
  // Removes the user; the last one stops the worker (joined, connection closed).
  void stop(UserId user);
  bool running() const;
  // Worker starts so far, the watchdog's reconnects included.
  uint64_t startCount() const { return starts_.load(); }

 private:
  class PictureSink;

  // Under controlMutex_.
  void startWorker();
  void stopWorker();
  void run(const Talvo::asio::ConnectionInfo& camera);
  // One SDK session, until stop or a reconnect is asked for.
  void session(const Talvo::asio::ConnectionInfo& camera);
  bool leaveSession() const { return stopFlag_.load() != 0 || reconnectFlag_.load() != 0; }
  void deliver(const Talvo::Utility::FloatMatrixPtr& matrix);
  // Device's thread.
  void armWatchdog(boost::posix_time::ptime deadline);
  void onWatchdog(const boost::system::error_code& error);
  // Worker: waits a step's time when the connection is down (the SDK would not wait).
  void idle();
  void processThermalRawData(uint64_t timeMs, Zelta::ZL_ThermalRawData& data);
  void reportBrokenFrame(Zelta::ZL_ThermalRawData& data, size_t index);

  Device* owner_;
  Talvo::LoggerOwner logger_;
  boost::asio::io_context& io_;
  const boost::posix_time::time_duration watchdogPeriod_;

  mutable std::mutex controlMutex_;  // start/stop; never taken by the worker
  boost::thread worker_;
  std::atomic<int> stopFlag_{0};
  std::atomic<int> reconnectFlag_{0};     // set by the watchdog, taken by the worker
  std::atomic<bool> workerRunning_{false};  // what worker_.joinable() says, for the watchdog
  std::atomic<uint64_t> starts_{0};
  std::mutex idleMutex_;
  std::condition_variable idleWake_;

  std::mutex usersMutex_;  // never held while calling a callback
  std::map<UserId, Callback> users_;
  UserId nextUser_ = 1;

  // Worker takes, any thread gives back.
  const std::shared_ptr<Talvo::Utility::FloatMatrixPool> matrices_ = Talvo::Utility::FloatMatrixPool::create();

  boost::asio::deadline_timer watchdog_;  // device's thread
  std::atomic<int64_t> lastDataUs_{0};    // microseconds since the epoch of the last matrix or start
};

// The device's one event stream, made on first use.
class EventStreamHolder {
 public:
  explicit EventStreamHolder(Device& owner) : owner_(owner) {}
  std::shared_ptr<EventStream> get();
  // For tests: the watchdog period of the stream made next.
  void setWatchdogPeriod(boost::posix_time::time_duration period);
  // The stream made so far; null when none was asked for.
  std::shared_ptr<EventStream> current() const;

 private:
  Device& owner_;
  mutable std::mutex mutex_;
  boost::posix_time::time_duration period_ = boost::posix_time::seconds(EventStream::kDefaultWatchdogSeconds);
  std::shared_ptr<EventStream> stream_;
};

}  // namespace Vantrel
