// The process-wide I/O service shared by the devices of the module.
#include "host/Nuvlet/GlobalService.h"

#include <exception>
#include <stdexcept>

#include "Nuvlet/include/ThreadCheck.h"
#include "ProcessShared.h"
#include "host/Nuvlet/Logging.h"

namespace Talvo {
namespace Utility {

namespace {

constexpr int kServiceThreads = 2;

}  // namespace

std::shared_ptr<GlobalService> GlobalService::instance() {
  return processShared<GlobalService>().get([] { return new GlobalService(); });
}

std::shared_ptr<GlobalService> GlobalService::current() { return processShared<GlobalService>().current(); }

boost::asio::io_context& GlobalService::get() {
  std::shared_ptr<GlobalService> service = current();
  if (!service) throw std::logic_error("GlobalService::get() without a live instance");
  // The caller holds a reference (see the header), so the io_context outlives this call.
  return service->io_;
}

GlobalService::GlobalService() : work_(boost::asio::make_work_guard(io_)) {
  for (int i = 0; i < kServiceThreads; ++i) {
    threads_.emplace_back([this] {
      // A handler that throws must not end the process nor leave the service with one thread less.
      for (;;) {
        try {
          io_.run();
          return;
        } catch (const std::exception& e) {
          LoggerOwner log(LoggerDetail::initFileLogger(), "GlobalService");
          NLOG(log, 3, " A handler threw: " << e.what());
        } catch (...) {
          LoggerOwner log(LoggerDetail::initFileLogger(), "GlobalService");
          NLOG(log, 3, " A handler threw an unknown exception");
        }
      }
    });
  }
}

// Handlers still queued are destroyed without running. Released on one of its own threads (a
// misuse: the header forbids it, checked in debug builds) the thread cannot join itself, so it is detached; that thread
// must then not touch the service any more.
GlobalService::~GlobalService() {
  NUVLET_DCHECK_CALLED_ON(!runningInThisThread());
  work_.reset();
  io_.stop();
  for (std::thread& thread : threads_) {
    if (thread.get_id() == std::this_thread::get_id())
      thread.detach();
    else if (thread.joinable())
      thread.join();
  }
}

bool GlobalService::runningInThisThread() const {
  for (const std::thread& thread : threads_)
    if (thread.get_id() == std::this_thread::get_id()) return true;
  return false;
}

}  // namespace Utility
}  // namespace Talvo
