// Start-up services: the model repository loader and the process-wide I/O service.
// Declarations only; implemented in libNuvlet.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "../Contract.h"
#include "../DriverInfo.h"

namespace Talvo {
namespace Utility {

// Reads a model repository (JSON, documented in docs/repository.md) into a DriverInfo.
// Errors are logged at level 3 through the logger given, naming the file and what is wrong.
class RepoLoader {
 public:
  explicit RepoLoader(ILogger* logger);
  // 0 on success; 1 when the file cannot be read; 2 when its content is malformed or incomplete.
  // On failure `driverInfo` is left unchanged.
  int load(const std::string& path, GDRV::DriverInfo& driverInfo);
  // The text of the last error ("" after success).
  const std::string& lastError() const { return lastError_; }

 private:
  ILogger* logger_;
  std::string lastError_;
};

// The process-wide I/O service: one io_context run by two threads while anyone holds a
// reference from instance(). The last reference released stops it and joins its threads
// (never release it from one of those threads).
class GlobalService {
 public:
  static std::shared_ptr<GlobalService> instance();
  // The live instance, or null when nobody holds one; never creates one.
  static std::shared_ptr<GlobalService> current();
  // The io_context of the current instance; valid while a reference is held.
  static boost::asio::io_context& get();
  boost::asio::io_context& context() { return context_; }
  // True on one of the service's own threads.
  bool runningInThisThread() const;

  ~GlobalService();
  GlobalService(const GlobalService&) = delete;
  GlobalService& operator=(const GlobalService&) = delete;

 private:
  GlobalService();
  boost::asio::io_context context_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  std::vector<std::thread> threads_;
};

}  // namespace Utility
}  // namespace Talvo
