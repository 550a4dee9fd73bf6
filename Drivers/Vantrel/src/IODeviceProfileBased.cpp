#include "IODeviceProfileBased.h"
#include "ChannelLogger.h"

#include <algorithm>

#include <boost/asio/post.hpp>
#include <boost/format.hpp>

#include "Device.h"
#include "Nuvlet/include/Contract.h"
#include "Nuvlet/include/ThreadCheck.h"
#include "host/Nuvlet/StopReport.h"

namespace Vantrel {

namespace {

const int32_t kOutOfLimits = 6;
const int32_t kStopped = 12;

}  // namespace

IODeviceProfileBased::IODeviceProfileBased(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel,
                                           const std::string& boardName, Device* device)
    : handler_(handler),
      channel_(channel),
      device_(device),
      prefix_((boost::format("io: %1%, %2%") % channel % boardName).str()),
      logger_(channelLogger(device, prefix_)) {
  const auto& channels = device->modelEntry().ioDevices;
  if (channel < channels.size()) {
    const auto& parameters = channels[channel].parameters;
    inputCount_ = static_cast<uint32_t>(std::max(0, Talvo::GDRV::intProperty(parameters, "rayCount")));
    outputCount_ = static_cast<uint32_t>(std::max(0, Talvo::GDRV::intProperty(parameters, "relayCount")));
  }
  inputBits_.assign(inputCount_, false);
  outputBits_.assign(outputCount_, false);
}

IODeviceProfileBased::~IODeviceProfileBased() = default;

void* IODeviceProfileBased::QueryContract(const char* typeName) {
  using Talvo::Utility::Path;
  return Talvo::Utility::castTo<Path<Talvo::IContract, Talvo::GDRV::IIODevice>, Path<Talvo::GDRV::IIODevice>,
                                Path<Talvo::GDRV::IDeviceChannel>>(this, typeName);
}

IODeviceProfileBasedMngr& IODeviceProfileBased::manager() const { return device_->ioManager(); }

const Talvo::GDRV::PropertyInt* IODeviceProfileBased::channelProperty(const std::string& name) const {
  const auto& channels = device_->modelEntry().ioDevices;
  if (channel_ >= channels.size()) return nullptr;
  return dynamic_cast<const Talvo::GDRV::PropertyInt*>(Talvo::GDRV::findProperty(channels[channel_].parameters, name));
}

void IODeviceProfileBased::Destroy() {
  stopChannel(false);  // the host may let the handler go once Destroy returns
  std::shared_ptr<IODeviceProfileBased> last;
  last.swap(self_);  // the channel goes when the last step in progress lets it go
}

void IODeviceProfileBased::Start() {
  int stopped = 0;
  if (!started_.compare_exchange_strong(stopped, 1)) {
    NLOG(logger_, 3, " Attempt to start already started device");
    handler_->Started(contract());
    return;
  }
  const uint64_t run = ++runs_;
  auto self = shared_from_this();
  boost::asio::post(device_->ioContext(), [self, run] {
    if (!self->isStarted() || self->runs_ != run) return;  // stopped (and maybe started again) before it began
    self->outputsReady_ = false;
    self->manager().registerBoard(self);
    self->startProfileDefines();
  });
}

// The flag changes at once, so that a Start right after it starts again; the board leaves the
// manager on the connection thread, after any step queued before.
void IODeviceProfileBased::Stop() { stopChannel(true); }

void IODeviceProfileBased::stopChannel(bool reportWhenIdle) {
  auto self = shared_from_this();
  int running = 1;
  if (!started_.compare_exchange_strong(running, 0)) {
    if (!reportWhenIdle) return;
    // Not running: the host still hears Stopped, after the steps queued before.
    boost::asio::post(device_->ioContext(), [self] { Talvo::Utility::reportStop(self->handler_, self->contract()); });
    return;
  }
  boost::asio::post(device_->ioContext(), [self] {
    self->manager().unregisterBoard(self.get());
    std::vector<HeldOutput> held;
    held.swap(self->heldOutputs_);
    for (const HeldOutput& output : held)
      if (output.handler) output.handler->OutputChanged(self->contract(), kStopped);
    Talvo::Utility::reportStop(self->handler_, self->contract());
  });
}

void IODeviceProfileBased::started() {
  if (isStarted()) handler_->Started(contract());
}

void IODeviceProfileBased::SetOutput(Talvo::GDRV::IDigitalOutputHandler* handler, int32_t output, bool active) {
  auto self = shared_from_this();
  boost::asio::post(device_->ioContext(),
                    [self, handler, output, active] { self->switchOutput(handler, output, active); });
}

void IODeviceProfileBased::switchOutput(Talvo::GDRV::IDigitalOutputHandler* handler, int32_t output, bool active) {
  if (output < 0 || static_cast<uint32_t>(output) >= outputCount_) {
    if (handler) handler->OutputChanged(contract(), kOutOfLimits);
    return;
  }
  if (isStarted() && !outputsReady_) {
    heldOutputs_.push_back({handler, static_cast<uint32_t>(output), active});
    return;
  }
  sendOutput(handler, static_cast<uint32_t>(output), active);
}

void IODeviceProfileBased::outputsReady() {
  outputsReady_ = true;
  std::vector<HeldOutput> held;
  held.swap(heldOutputs_);
  for (const HeldOutput& output : held) sendOutput(output.handler, output.output, output.active);
}

void IODeviceProfileBased::sendOutput(Talvo::GDRV::IDigitalOutputHandler* handler, uint32_t output, bool active) {
  auto self = shared_from_this();
  manager().sendRequest(relayUrl(output, active),
                        prefix() + " Set relay " + std::to_string(output) + " to " + (active ? "1" : "0"),
                        [self, handler](int32_t code, const std::string&) {
                          if (handler) handler->OutputChanged(self->contract(), code);
                        });
}

void IODeviceProfileBased::reportRayEvent(const std::string& eventName, uint32_t input, bool active, uint64_t timeMs) {
  NUVLET_DCHECK_CALLED_ON(device_->isCalledFromConnectionThread());
  if (input >= inputBits_.size() || inputBits_[input] == active) return;
  NLOG(logger_, 0, " Event " << eventName << ", Ray " << input << " changed value to " << (active ? 1 : 0));
  inputBits_[input] = active;
  handler_->InputChanged(contract(), static_cast<int32_t>(input), active, timeMs);
}

void IODeviceProfileBased::reportRelayEvent(const std::string& eventName, uint32_t output, bool active,
                                            uint64_t timeMs) {
  NUVLET_DCHECK_CALLED_ON(device_->isCalledFromConnectionThread());
  if (output >= outputBits_.size() || outputBits_[output] == active) return;
  NLOG(logger_, 0, " Event " << eventName << ", Relay " << output << " changed value to " << (active ? 1 : 0));
  outputBits_[output] = active;
  if (auto* outputs = Talvo::contract_cast<Talvo::GDRV::IDigitalOutputHandler>(handler_))
    outputs->OutputStateChanged(contract(), static_cast<int32_t>(output), active, timeMs);
}

}  // namespace Vantrel
