#include "host/Nuvlet/ConnectionPolicy.h"

#include <algorithm>

#include <boost/asio/post.hpp>

#include "Nuvlet/include/ThreadCheck.h"
#include "host/Nuvlet/ErrorCodes.h"

namespace Talvo {
namespace Utility {

namespace {
// Connection text that cannot be read: reported with code 10, not retried.
const boost::system::error_code kUnreadableAddress(10, get_talvo_category());
}  // namespace

AsyncConnectionPolicyBase::AsyncConnectionPolicyBase(GDRV::IDeviceHandler* handler, ILogger* logger)
    : handler_(handler), logger_(logger), work_(boost::asio::make_work_guard(io_)) {
  std::promise<void> ended;
  runEnded_ = ended.get_future();
  thread_ = std::thread([this, ended = std::move(ended)]() mutable {
    for (;;) {
      try {
        io_.run();
        break;
      } catch (const std::exception& e) {
        // A task must not end the device's thread; log and go on.
        NLOG(deviceLogger(), 3, " Unexpected exception on the connection thread: " << e.what());
      }
    }
    ended.set_value();
  });
}

AsyncConnectionPolicyBase::~AsyncConnectionPolicyBase() {
  // Derived destructors have drained the thread already; this only covers a failed construction.
  if (!thread_.joinable()) return;
  io_.stop();
  if (thread_.get_id() == std::this_thread::get_id())
    thread_.detach();
  else
    thread_.join();
}

void AsyncConnectionPolicyBase::stopConnectionThread() {
  if (!thread_.joinable()) return;
  ++generation_;
  if (thread_.get_id() == std::this_thread::get_id()) {
    // Destroyed from its own thread (a callback dropped the last reference): it cannot join
    // itself; stopping the io_context lets it end right after this task.
    cancel();
    work_.reset();
    io_.stop();
    thread_.detach();
    return;
  }
  work_.reset();
  post([this] { cancel(); });
  if (runEnded_.wait_for(std::chrono::seconds(5)) != std::future_status::ready) io_.stop();
  thread_.join();
}

bool AsyncConnectionPolicyBase::isCalledFromConnectionThread() const {
  return thread_.get_id() == std::this_thread::get_id();
}

void AsyncConnectionPolicyBase::post(std::function<void()> task) { boost::asio::post(io_, std::move(task)); }

LoggerOwner AsyncConnectionPolicyBase::deviceLogger() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return LoggerOwner(logger_, displayName_.empty() ? std::string() : "[addr " + displayName_ + "]");
}

void AsyncConnectionPolicyBase::connect(const std::string& address) {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    address_ = address;
    displayName_ = asio::addressStringToDisplay(address);
  }
  const uint64_t attempt = ++generation_;
  post([this, attempt, address] {
    if (attempt != generation_.load()) return;  // a later connect or disconnect came first
    cancel();
    {
      std::lock_guard<std::mutex> lock(reportMutex_);
      active_ = true;
    }
    tryConnect(address);
  });
}

void AsyncConnectionPolicyBase::disconnect() {
  ++generation_;
  post([this] {
    cancel();
    bool wasActive;
    {
      std::lock_guard<std::mutex> lock(reportMutex_);
      wasActive = active_;
      active_ = false;
    }
    if (wasActive) reportState(GDRV::DEVICE_DISCONNECTED, 0);
  });
}

std::string AsyncConnectionPolicyBase::connectionString() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return address_;
}

asio::ConnectionInfo AsyncConnectionPolicyBase::connectionInfo() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return asio::parseConnectionInfo(address_);
}

void AsyncConnectionPolicyBase::reportState(GDRV::DeviceState state, int code) {
  NUVLET_DCHECK_CALLED_ON(isCalledFromConnectionThread());
  static const char* const names[] = {"connected", "disconnected", "failed"};
  NLOG(deviceLogger(), 0,
       " Device " << names[state] << (state == GDRV::DEVICE_FAILED ? ", code " : "")
                  << (state == GDRV::DEVICE_FAILED ? std::to_string(code) : std::string()));
  if (handler_) handler_->StateChanged(deviceContract(), state, code);
}

ConnectionPolicyDefault::ConnectionPolicyDefault(GDRV::IDeviceHandler* handler, ILogger* logger)
    : AsyncConnectionPolicyBase(handler, logger), timer_(ioContext()) {}

ConnectionPolicyDefault::~ConnectionPolicyDefault() { stopConnectionThread(); }

void ConnectionPolicyDefault::tryConnect(const std::string& address) {
  NUVLET_DCHECK_CALLED_ON(isCalledFromConnectionThread());
  asio::ConnectionInfo info;
  try {
    info = asio::parseConnectionInfo(address);
  } catch (const asio::ConnectionTextError& e) {
    NLOG(deviceLogger(), 3, " Cannot read the connection text: " << e.what());
    handleConnected(kUnreadableAddress);
    return;
  }
  const uint64_t attempt = generation();
  http::asyncGetEx(
      info, "/", ioContext(), kCheckSeconds,
      [this, attempt](const boost::system::error_code& error, const http::Body&, const http::HttpResponse&) {
        if (attempt != generation()) return;  // answer of an abandoned attempt
        probe_.reset();
        // Any HTTP answer means the camera is there, unless it refuses our credentials.
        const bool refused =
            error.category() == http::http_category() && (error.value() == 401 || error.value() == 403);
        const bool answered = error.category() == http::http_category();
        handleConnected(answered && !refused ? boost::system::error_code() : error);
      },
      probe_, rawLogger());
}

void ConnectionPolicyDefault::cancel() {
  NUVLET_DCHECK_CALLED_ON(isCalledFromConnectionThread());
  timer_.cancel();
  if (probe_) {
    probe_->cancel();
    probe_.reset();
  }
  connected_ = false;
  failureReported_ = false;
  retrySeconds_ = kFirstRetrySeconds;
}

void ConnectionPolicyDefault::handleConnected(const boost::system::error_code& error) {
  NUVLET_DCHECK_CALLED_ON(isCalledFromConnectionThread());
  if (!error) {
    if (!connected_) reportState(GDRV::DEVICE_CONNECTED, 0);
    connected_ = true;
    failureReported_ = false;
    retrySeconds_ = kFirstRetrySeconds;
    scheduleAttempt(kCheckSeconds);
    return;
  }
  // One report per outage: the first failure after being connected or after connect().
  if (connected_ || !failureReported_) reportState(GDRV::DEVICE_FAILED, translateSystemError(error));
  connected_ = false;
  failureReported_ = true;
  if (error == kUnreadableAddress) return;  // retrying would not heal it
  scheduleAttempt(retrySeconds_);
  retrySeconds_ = std::min(retrySeconds_ * 2, kMaxRetrySeconds);
}

void ConnectionPolicyDefault::scheduleAttempt(int seconds) {
  NUVLET_DCHECK_CALLED_ON(isCalledFromConnectionThread());
  const uint64_t attempt = generation();
  timer_.expires_from_now(boost::posix_time::seconds(seconds));
  timer_.async_wait([this, attempt](const boost::system::error_code& error) {
    if (error || attempt != generation()) return;
    tryConnect(connectionString());
  });
}

}  // namespace Utility
}  // namespace Talvo
