// The settings adjuster of the channels and the Stopped notification.
#include "host/Nuvlet/Channels.h"

#include <memory>
#include <thread>

#include <boost/asio/post.hpp>

#include "host/Nuvlet/Repository.h"

namespace Talvo {
namespace Utility {

namespace {

constexpr int kBusy = 16;

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

void SimpleAdjuster::SetValue(const char* name, bool value) {
  if (name) parameters_.setValue(name, value);
}

void SimpleAdjuster::SetValue(const char* name, int value) {
  if (name) parameters_.setValue(name, value);
}

void SimpleAdjuster::SetValue(const char* name, double value) {
  if (name) parameters_.setValue(name, value);
}

void SimpleAdjuster::SetValue(const char* name, const char* value) {
  if (name) parameters_.setValue(name, std::string(value ? value : ""));
}

void SimpleAdjuster::ApplySettings(IAsyncActionHandler* handler) {
  if (!parameters_.queueChanges(handler) && handler) handler->Finished(source_, kBusy);
}

bool SimpleAdjuster::processBlockingConfiguration(const ParamsMap& set, IAsyncActionHandler* handler) {
  if (!anyOr<bool>(parameters_.getPersistentParam("blockConfiguration"), false)) return false;
  if (handler) handler->Finished(source_, 0);
  return true;
}

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
    boost::asio::post(service->context(), [delivery] { delivery->run(); });
  } catch (const std::exception&) {
    // A call that was not posted is delivered by `delivery`'s destructor when it goes.
  }
}

}  // namespace Utility
}  // namespace Talvo
