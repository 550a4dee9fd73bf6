// The autodetect tool's frame: one detection per Start on a thread of its own, reported to the
// host's handler. A maker's tool derives from Autodetect and says how to ask an address
// (doAutodetect) and which brand it answers for (checkBrand).
//
// Threads: Start, Stop and Destroy on any host thread, also from inside the handler's calls (on
// the tool's thread: Stop then only marks the detection stopped, Destroy deletes the tool when
// its thread ends, Start is ignored). The handler is called on the tool's thread, never after Stop or Destroy
// returned, and never for a detection that Stop cut short.
#pragma once

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/system/system_error.hpp>

#include "Nuvlet/include/Contract.h"
#include "Nuvlet/include/ThreadCheck.h"
#include "Nuvlet/include/IpDeviceSearchResult.h"
#include "host/DriverInfo.h"
#include "host/GDRV.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/Logging.h"

namespace Talvo {
namespace Utility {

// A camera that answered but not as this maker's cameras do; `code` is what the host is told.
class AutodetectException : public std::runtime_error {
 public:
  AutodetectException(const std::string& text, int code) : std::runtime_error(text), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

template <class Result>
class CommonAutodetect : public GDRV::IAutodetect, public LoggerOwner {
 public:
  // `handler` outlives the tool; `logger` may be null.
  CommonAutodetect(GDRV::IAutodetectHandler* handler, std::shared_ptr<const GDRV::DriverInfo> info, ILogger* logger)
      : LoggerOwner(logger, "autodetect"), handler_(handler), info_(std::move(info)) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return castTo<Path<IContract, GDRV::IAutodetect>, Path<GDRV::IAutodetect>>(this, typeName);
  }

  // Ends a detection still running, then starts one for `address` (a connection text).
  void Start(const char* address) override {
    if (onOwnThread()) {
      NLOG(*this, 2, " Start from the autodetect handler is ignored");
      return;
    }
    Stop();
    std::lock_guard<std::mutex> lock(mutex_);
    if (destroying_) return;
    stopped_ = false;
    thread_ = std::thread([this, text = std::string(address ? address : "")] { autodetectProc(text); });
  }

  // Cuts a running detection short (its request is abandoned at once) and waits for its thread.
  void Stop() override {
    std::thread running;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
      if (io_) io_->stop();
      if (thread_.get_id() == std::this_thread::get_id()) return;  // from the handler: the thread ends by itself
      running = std::move(thread_);
    }
    try {
      if (running.joinable()) running.join();
    } catch (const std::exception& e) {
      NLOG(*this, 3, " std::exception: " << e.what());
    }
  }

  void Destroy() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      destroying_ = true;
    }
    Stop();
    if (onOwnThread()) return;  // the thread deletes the tool as it ends
    delete this;
  }

 protected:
  ~CommonAutodetect() override = default;

  // On the tool's thread: asks `address` what camera it is. Throws AutodetectException,
  // boost::system::system_error or another std::exception when it cannot tell.
  virtual std::unique_ptr<Result> doAutodetect(const std::string& address) = 0;
  // True when `brand` names this maker's cameras (null: any).
  virtual bool checkBrand(const char* brand) = 0;

  // For doAutodetect, on the tool's thread: runs `io` until its work is done or Stop comes; false
  // when Stop came (the work is abandoned).
  bool runUntilDoneOrStopped(boost::asio::io_context& io) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopped_) return false;
      io_ = &io;
    }
    io.run();
    std::lock_guard<std::mutex> lock(mutex_);
    io_ = nullptr;
    return !stopped_;
  }

  const GDRV::DriverInfo& driverInfo() const { return *info_; }

 private:
  void autodetectProc(const std::string& address) {
    try {
      std::unique_ptr<Result> result = doAutodetect(address);
      result->driverName = info_->name;
      result->driverNumber = info_->number;
      if (isLevelEnabled(2)) logUnknownModelDetected(*result);
      if (!stopped()) handler_->Detected(this, result.get());
    } catch (const AutodetectException& e) {
      if (!stopped()) NLOG(*this, 3, " Autodetect exception: " << e.what());
      fail(e.code());
    } catch (const boost::system::system_error& e) {
      // A request that Stop abandoned ends here too (125): no failure, so no error line.
      if (!stopped()) NLOG(*this, 3, " System_error exception. Result: " << e.code().value() << " . Error: " << e.what());
      fail(translateSystemError(e.code()));
    } catch (const std::exception& e) {
      if (!stopped()) NLOG(*this, 3, " Unexpected exception. Error: " << e.what());
      fail(1);
    }
    bool deleteSelf = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      deleteSelf = detachToDeleteSelf(thread_, destroying_);
    }
    if (deleteSelf) delete this;
  }

  void logUnknownModelDetected(const Result& result) {
    for (const auto& entry : info_->models)
      for (const auto& identity : entry.identities)
        if (identity.vendor == result.brand && identity.model == result.model) return;
    NLOG(*this, 2,
         " Autodetect returns unknown model. Driver '" << result.driverName << "' detected device with brand '"
                                                       << result.brand << "' and model '" << result.model
                                                       << "', but such device is not described in repository.");
  }

  void fail(int code) {
    if (!stopped()) handler_->Failed(this, code);
  }

  bool stopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
  }

  bool onOwnThread() {
    std::lock_guard<std::mutex> lock(mutex_);
    return thread_.get_id() == std::this_thread::get_id();
  }

  GDRV::IAutodetectHandler* const handler_;
  const std::shared_ptr<const GDRV::DriverInfo> info_;
  std::mutex mutex_;  // guards the members below; never held while calling the host
  std::thread thread_;
  boost::asio::io_context* io_ = nullptr;  // the running detection's, while it runs
  bool stopped_ = false;
  bool destroying_ = false;
};

class Autodetect : public CommonAutodetect<MMD::IpDeviceSearchResult> {
 public:
  using CommonAutodetect::CommonAutodetect;
};

}  // namespace Utility
}  // namespace Talvo
