// A device's connection to its camera: the device's own io_context run by its connection
// thread, the connection text, and the state reported to the host's device handler.
// Declarations only; implemented in libNuvlet.
#pragma once

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

#include "../GDRV.h"
#include "Connection.h"
#include "Http.h"
#include "Logging.h"

namespace Talvo {
namespace Utility {

// Owns the device's io_context and the thread that runs it (started by the constructor,
// stopped and joined by stopConnectionThread or the destructor). connect/disconnect may be
// called from any host thread; the connection steps run on the connection thread.
class AsyncConnectionPolicyBase {
 public:
  AsyncConnectionPolicyBase(GDRV::IDeviceHandler* handler, ILogger* logger);
  virtual ~AsyncConnectionPolicyBase();

  boost::asio::io_context& ioContext() { return io_; }
  bool isCalledFromConnectionThread() const;

  // Any thread. Stores the connection text and starts trying the camera on the connection
  // thread; state reports come from that thread, never inside this call.
  void connect(const std::string& address);
  // Any thread. Stops trying, cancels what runs and reports DEVICE_DISCONNECTED once after a
  // connect, on the connection thread. Returns without waiting for the camera.
  void disconnect();

  std::string connectionString() const;
  // Parsed under the device's mutex; throws asio::ConnectionTextError.
  asio::ConnectionInfo connectionInfo() const;
  std::recursive_mutex& deviceMutex() const { return mutex_; }
  GDRV::IDeviceHandler* deviceHandler() const { return handler_; }
  ILogger* rawLogger() const { return logger_; }
  // The device's logger: prefix "[addr <display form>]" once an address was given.
  LoggerOwner deviceLogger() const;

 protected:
  // Connection thread: one attempt for `address`; must end with handleConnected, which it
  // never calls inside this call unless the attempt cannot start at all.
  virtual void tryConnect(const std::string& address) = 0;
  // Connection thread: abandons the running attempt and the device's own requests.
  virtual void cancel() = 0;
  // Connection thread: the result of an attempt.
  virtual void handleConnected(const boost::system::error_code& error) = 0;

  // The device as the host knows it (the source of state reports).
  virtual IContract* deviceContract() = 0;

  // Posts `task` to the connection thread.
  void post(std::function<void()> task);
  // Lets the connection thread finish its queued tasks (a disconnect report among them),
  // cancels what is still running, and joins the thread (stopping it hard after 5 seconds);
  // idempotent. The most derived destructor calls it first, so that nothing runs on the thread
  // while the object is torn down.
  void stopConnectionThread();
  // Connection thread (checked in debug builds, as are the connection steps of
  // ConnectionPolicyDefault): tells the device handler, never under a lock of this object.
  void reportState(GDRV::DeviceState state, int code);
  // Generation of the current connect/disconnect call; attempts of an older one are stale.
  uint64_t generation() const { return generation_.load(); }

 private:
  GDRV::IDeviceHandler* handler_;
  ILogger* logger_;
  std::string displayName_;
  mutable std::recursive_mutex mutex_;
  std::string address_;
  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  std::thread thread_;
  std::future<void> runEnded_;
  std::atomic<uint64_t> generation_{0};
  std::mutex reportMutex_;  // orders state reports; never held while calling the host
  bool active_ = false;     // between connect and disconnect
};

// The usual policy: an attempt is one HTTP GET of the camera's root; any HTTP answer but 401
// and 403 means the camera is there. Failed attempts are retried after 1, 2, 4 ... up to 30
// seconds; while connected the camera is checked every 10 seconds, and a lost camera is
// reported as DEVICE_FAILED once and retried likewise.
class ConnectionPolicyDefault : public GDRV::IDevice, public GDRV::IStorageDevice, public AsyncConnectionPolicyBase {
 public:
  ConnectionPolicyDefault(GDRV::IDeviceHandler* handler, ILogger* logger);
  ~ConnectionPolicyDefault() override;

  static constexpr int kFirstRetrySeconds = 1;
  static constexpr int kMaxRetrySeconds = 30;
  static constexpr int kCheckSeconds = 10;

 protected:
  IContract* deviceContract() override { return static_cast<GDRV::IDevice*>(this); }
  void tryConnect(const std::string& address) override;
  void cancel() override;
  void handleConnected(const boost::system::error_code& error) override;

 private:
  void scheduleAttempt(int seconds);
  boost::asio::deadline_timer timer_;
  http::AsyncOperationPtr probe_;
  int retrySeconds_ = kFirstRetrySeconds;
  bool connected_ = false;
  bool failureReported_ = false;
};

}  // namespace Utility
}  // namespace Talvo
