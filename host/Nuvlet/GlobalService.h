// The process-wide I/O service. Declarations only; implemented in libNuvlet.
#pragma once

#include <memory>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

namespace Talvo {
namespace Utility {

// The process-wide I/O service: one io_context run by two threads while anyone holds a
// reference from instance(). The last reference released stops it and joins its threads
// (never release it from one of those threads: checked in debug builds).
class GlobalService {
 public:
  static std::shared_ptr<GlobalService> instance();
  // The live instance, or null when nobody holds one; never creates one.
  static std::shared_ptr<GlobalService> current();
  // The io_context of the current instance; valid while a reference is held.
  static boost::asio::io_context& get();
  boost::asio::io_context& ioContext() { return io_; }
  // True on one of the service's own threads.
  bool runningInThisThread() const;

  ~GlobalService();
  GlobalService(const GlobalService&) = delete;
  GlobalService& operator=(const GlobalService&) = delete;

 private:
  GlobalService();
  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  std::vector<std::thread> threads_;
};

}  // namespace Utility
}  // namespace Talvo
