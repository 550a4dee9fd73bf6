// The Stopped notification of the channels, delivered off the caller's thread.
#include "host/Nuvlet/StopReport.h"

#include <memory>
#include <system_error>
#include <thread>

#include <boost/asio/post.hpp>

#include "host/Nuvlet/GlobalService.h"

namespace Talvo {
namespace Utility {

namespace {

// One Stopped call for one handler: delivered by run(), or, when the service drops the posted
// call without running it (the service ends first), by a detached thread as the call is
// destroyed. Never delivered twice, never on the thread that called reportStop.
class StopDelivery {
 public:
  StopDelivery(GDRV::IAsyncDeviceChannelHandler* handler, IContract* source) : handler_(handler), source_(source) {}
  StopDelivery(const StopDelivery&) = delete;
  StopDelivery& operator=(const StopDelivery&) = delete;
  ~StopDelivery() {
    if (!delivered_) deliverOnOwnThread(handler_, source_);
  }

  void run() {
    delivered_ = true;
    handler_->Stopped(source_);
  }

  // The thread ends right after the one call.
  static void deliverOnOwnThread(GDRV::IAsyncDeviceChannelHandler* handler, IContract* source) {
    try {
      std::thread([handler, source] { handler->Stopped(source); }).detach();
    } catch (const std::system_error&) {
      // No thread can be started: nothing is left that could deliver the call.
    }
  }

 private:
  GDRV::IAsyncDeviceChannelHandler* handler_;
  IContract* source_;
  bool delivered_ = false;
};

}  // namespace

// The caller's reference keeps the service alive while posting; it is dropped here, on the
// caller's thread, never on a service thread (whose release would have to join itself).
void reportStop(GDRV::IAsyncDeviceChannelHandler* handler, IContract* source) {
  if (!handler) return;
  const std::shared_ptr<GlobalService> service = GlobalService::current();
  if (!service) {
    StopDelivery::deliverOnOwnThread(handler, source);
    return;
  }
  std::shared_ptr<StopDelivery> delivery;
  try {
    delivery = std::make_shared<StopDelivery>(handler, source);
    boost::asio::post(service->ioContext(), [delivery] { delivery->run(); });
  } catch (const std::exception&) {
    // A call that was not posted is delivered by `delivery`'s destructor when it goes.
  }
}

}  // namespace Utility
}  // namespace Talvo
