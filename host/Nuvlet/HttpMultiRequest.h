// A batch of GET requests to one camera. Declarations only; implemented in libNuvlet.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

#include "Connection.h"
#include "Http.h"
#include "Logging.h"

namespace Talvo {
namespace Utility {

// GET requests run one after another on one io_context; a request added from a callback runs
// after those already queued. The final callback gets the first error code met (0 when every
// request succeeded); requests after a failed one still run. Every callback runs on the
// io_context, never inside the call of this class that caused it.
// Thread: add and start on the io_context's thread, or on one thread before the io_context runs
// (the io_context cannot tell the second case apart, so this is not checked); cancel from any.
class AsyncMultiRequest : public std::enable_shared_from_this<AsyncMultiRequest> {
 public:
  using RequestCallback = http::Callback;
  using FinalCallback = std::function<void(const boost::system::error_code&)>;

  static std::shared_ptr<AsyncMultiRequest> create(const asio::ConnectionInfo& info, boost::asio::io_context& io,
                                                   ILogger* logger = nullptr);
  void addGetRequest(const std::string& uri, int timeoutSeconds, RequestCallback callback);
  // The first request starts from the io_context's queue, not inside this call. Precondition:
  // called once per batch.
  void start(FinalCallback callback);
  // Any thread. Cancels the running request; the rest are not started; the final callback gets
  // operation_aborted.
  void cancel();

 private:
  AsyncMultiRequest(const asio::ConnectionInfo& info, boost::asio::io_context& io, ILogger* logger);
  // io_context thread.
  void runNext();
  struct Pending {
    std::string uri;
    int timeoutSeconds;
    RequestCallback callback;
  };
  asio::ConnectionInfo info_;
  boost::asio::io_context& io_;
  ILogger* logger_;
  std::deque<Pending> queue_;
  FinalCallback final_;
  boost::system::error_code firstError_;
  http::AsyncOperationPtr current_;
  bool cancelled_ = false;
  std::mutex mutex_;
};

}  // namespace Utility
}  // namespace Talvo
