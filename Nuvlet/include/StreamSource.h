// Talvo::Utility::StreamSource: AsyncSource with the channel's settings (SimpleAdjuster) and the
// reconnect timer. Compiled into the module.
//
// Derived supplies, besides what AsyncSource asks for: connectStep() (worker: one connection
// attempt, run when the reconnect timer fires while the source runs).
// Threads: scheduleReconnect on the worker (or in Start before the worker runs); ApplySettings
// from host threads.
#pragma once

#include <cstdint>

#include <boost/asio/deadline_timer.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "Nuvlet/include/AsyncSource.h"
#include "host/Nuvlet/SimpleAdjuster.h"

namespace Talvo {
namespace Utility {

template <class Interface, class Derived, class DeviceT>
class StreamSource : public AsyncSource<Interface, Derived, DeviceT>, public SimpleAdjuster {
  using Base = AsyncSource<Interface, Derived, DeviceT>;

 public:
  StreamSource(GDRV::IAsyncDeviceChannelHandler* handler, DeviceT* device, IContract* source)
      : Base(handler, device), SimpleAdjuster(source) {}

  // The next connect after `delay`; minus infinity: at once. Replaces an armed one.
  void scheduleReconnect(const boost::posix_time::time_duration& delay) {
    if (reconnectArmed_ && reconnectTimer_.cancel() > 0)
      NLOG(derived(), 3, " Scheduling reconnect while some reconnect is already in progress.");
    if (delay.is_special() && delay.is_negative())
      reconnectTimer_.expires_from_now(boost::posix_time::microseconds(0));
    else
      reconnectTimer_.expires_at(boost::posix_time::microsec_clock::universal_time() + delay);
    const uint64_t generation = ++reconnectGeneration_;
    reconnectTimer_.async_wait([this, generation](const boost::system::error_code& error) {
      if (generation == reconnectGeneration_) reconnectArmed_ = false;
      if (error == boost::asio::error::operation_aborted || !this->running()) return;
      derived().connectStep();
    });
    reconnectArmed_ = true;
  }

  // Settings are kept, never sent: the stream's URL does not depend on them.
  void ApplySettings(IAsyncActionHandler* handler) override {
    SimpleAdjuster::ApplySettings(handler);
    ParamsMap set;
    IAsyncActionHandler* popped = nullptr;
    while (parameters_.popParameters(set, popped)) {
      parameters_.updateParams(set);
      if (popped) popped->Finished(adjusterSource(), 0);
    }
  }

 protected:
  void cancelReconnect() override {
    if (reconnectArmed_) reconnectTimer_.cancel();
    reconnectArmed_ = false;
  }

 private:
  Derived& derived() { return static_cast<Derived&>(*this); }

  boost::asio::deadline_timer reconnectTimer_{this->ioContext()};
  bool reconnectArmed_ = false;
  uint64_t reconnectGeneration_ = 0;
};

}  // namespace Utility
}  // namespace Talvo
