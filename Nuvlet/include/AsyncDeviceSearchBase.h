// The frame of a network device search: an I/O service of its own, run by the search's thread
// from Start to Stop, on which the maker's search does its work and reports what it finds.
//
// Threads: Start, Stop and Destroy come from host threads, one at a time; Stop and Destroy may
// also come from inside the handler's Found (on the search's thread: Stop then only ends the
// thread's work, Destroy deletes the search once its thread is done, Start is ignored). Found
// is called on the search's thread with no lock held, never after Stop or Destroy returned.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "Nuvlet/include/Contract.h"
#include "Nuvlet/include/ThreadCheck.h"
#include "host/GDRV.h"
#include "host/Nuvlet/Logging.h"

namespace Talvo {
namespace Utility {

class AsyncDeviceSearchBase : public GDRV::IDeviceSearch, public LoggerOwner {
 public:
  // `handler` outlives the search; `logger` may be null.
  AsyncDeviceSearchBase(GDRV::IDeviceSearchHandler* handler, ILogger* logger, std::string algorithmId)
      : LoggerOwner(logger, "search"), handler_(handler), algorithmId_(std::move(algorithmId)) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return castTo<Path<IContract, GDRV::IDeviceSearch>, Path<GDRV::IDeviceSearch>>(this, typeName);
  }

  const char* GetAlgorithmId() override { return algorithmId_.c_str(); }
  int32_t GetVersion() override { return 1; }

  // Ends a search still running, then starts the thread and the maker's search.
  void Start() override {
    if (onOwnThread()) {
      NLOG(*this, 2, " Start from the search handler is ignored");
      return;
    }
    Stop();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (destroying_) return;
      io_.restart();
      work_.emplace(io_.get_executor());
    }
    // The search is set up before its thread runs: a report, and a Stop or Destroy from inside
    // it, find it complete.
    startSearch();
    std::lock_guard<std::mutex> lock(mutex_);
    thread_ = std::thread([this] { run(); });
  }

  // Ends the maker's search, then the thread (joined unless called on it).
  void Stop() override {
    stopSearch();
    std::thread running;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      work_.reset();
      io_.stop();
      if (thread_.get_id() == std::this_thread::get_id()) return;  // from Found: the thread ends by itself
      running = std::move(thread_);
    }
    if (running.joinable()) running.join();
  }

  void Destroy() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      destroying_ = true;
    }
    Stop();
    if (onOwnThread()) return;  // run() deletes the search as it ends
    delete this;
  }

 protected:
  ~AsyncDeviceSearchBase() override = default;

  // On the thread that calls Start, with the I/O service running: starts looking.
  virtual void startSearch() = 0;
  // From Stop, on any thread: stops looking; nothing is reported once it returns.
  virtual void stopSearch() = 0;

  boost::asio::io_context& ioContext() { return io_; }
  // On the search's thread.
  void report(GDRV::IDeviceSearchResult* result) { handler_->Found(this, result); }

 private:
  void run() {
    io_.run();
    bool deleteSelf = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      deleteSelf = detachToDeleteSelf(thread_, destroying_);
    }
    if (deleteSelf) delete this;
  }

  bool onOwnThread() {
    std::lock_guard<std::mutex> lock(mutex_);
    return thread_.get_id() == std::this_thread::get_id();
  }

  GDRV::IDeviceSearchHandler* const handler_;
  const std::string algorithmId_;
  boost::asio::io_context io_;
  std::mutex mutex_;  // guards the members below; never held while calling the host
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
  std::thread thread_;
  bool destroying_ = false;
};

}  // namespace Utility
}  // namespace Talvo
