#include "IODeviceProfileBasedClassic.h"

#include <algorithm>
#include <array>

#include "ProfileAnswers.h"

namespace Vantrel {

namespace {

const char kEventProfilesRead[] = "/control/control?read&section=event_sig&sig";
const char kSignalOutProfilesRead[] = "/admin/control?read&section=signaloutprofiles&profile";

bool listed(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Pin `index` of `pins`; empty and logged (under `function`) for an index the board lacks.
std::string pinOf(const std::array<const char*, 2>& pins, uint32_t index, const Talvo::LoggerOwner& log,
                  const char* function, const char* unexpected) {
  if (index < pins.size()) return pins[index];
  if (log.isLevelEnabled(0)) log.log(0, __FILE__, __LINE__, function, unexpected + std::to_string(index));
  return std::string();
}

}  // namespace

IODeviceProfileBasedClassic::IODeviceProfileBasedClassic(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel,
                                                         const std::string& boardName, Pins pins, Device* device)
    : IODeviceProfileBased(handler, channel, boardName, device), boardName_(boardName), pins_(pins) {}

std::string IODeviceProfileBasedClassic::getPinOutName(uint32_t index) const {
  return pinOf(pins_.outputs, index, log(), "getPinOutName", " Unexpected output pin number ");
}

std::string IODeviceProfileBasedClassic::getPinInName(uint32_t index) const {
  return pinOf(pins_.inputs, index, log(), "getPinInName", " Unexpected input pin number ");
}

std::string IODeviceProfileBasedClassic::inputEvent(uint32_t index) const {
  return boardName_ + "_SI" + std::to_string(index);
}

std::string IODeviceProfileBasedClassic::outputEvent(uint32_t index) const {
  return boardName_ + "_SO" + std::to_string(index);
}

std::string IODeviceProfileBasedClassic::relayUrl(uint32_t output, bool active) const {
  return "/control/rcontrol?action=sigout&name=" + outputEvent(output) + (active ? "_ON" : "_OFF");
}

// The camera's event and signal-output profiles are read first; only missing ones are defined.
void IODeviceProfileBasedClassic::startProfileDefines() {
  auto self = std::static_pointer_cast<IODeviceProfileBasedClassic>(shared_from_this());
  manager().sendRequest(kEventProfilesRead, prefix() + " Get event profiles",
                        [self](int32_t code, const std::string& body) {
                          if (code != 0 || !self->isStarted()) return;
                          self->defineEvents(body);
                        });
  // Outputs wait for their profiles; a camera that cannot list them is asked anyway.
  manager().sendRequest(kSignalOutProfilesRead, prefix() + " Get signal output profiles",
                        [self](int32_t code, const std::string& body) {
                          if (!self->isStarted()) return;
                          if (code == 0) {
                            self->onSignalOutputProfiles(body);
                          } else {
                            self->outputsReady();
                          }
                        });
  started();
}

void IODeviceProfileBasedClassic::define(const std::string& logText, const std::string& uri,
                                         IODeviceProfileBasedMngr::Completion done) {
  NLOG(log(), 0, " " << logText << " " << uri);
  manager().sendRequest(uri, prefix() + " " + logText, std::move(done));
}

void IODeviceProfileBasedClassic::defineEvents(const std::string& existing) {
  const auto defineEvent = [&](const std::string& name, const std::string& sensor, const std::string& inputPin,
                               const std::string& outputPin, const char* trigger) {
    if (hasMessageProfile(existing, name)) {
      NLOG(log(), 0, " Event " << name << " already defined");
      return;
    }
    define("Define event",
           "/control/control?set&section=event_sig&sig=" + name + ":_profilename=" + name + ":sig_dead=0:sig_sens=" +
               sensor + ":si_pin=" + inputPin + ":so_pin=" + outputPin + ":sio_trigger=" + trigger + ":sio_time=0",
           nullptr);
  };
  for (uint32_t i = 0; i < inputCount(); ++i)
    defineEvent(inputEvent(i), "si", getPinInName(i), getPinOutName(i), "close");
  for (uint32_t i = 0; i < outputCount(); ++i)
    defineEvent(outputEvent(i), "so", getPinInName(i), getPinOutName(i), "open");
}

// The outputs are ready when every profile defined here was answered.
void IODeviceProfileBasedClassic::onSignalOutputProfiles(const std::string& existing) {
  auto self = std::static_pointer_cast<IODeviceProfileBasedClassic>(shared_from_this());
  auto missing = std::make_shared<size_t>(1);  // one more until the loop is done
  const auto answered = [self, missing](int32_t, const std::string&) {
    if (--*missing == 0 && self->isStarted()) self->outputsReady();
  };
  for (uint32_t i = 0; i < outputCount(); ++i) {
    for (const bool on : {true, false}) {
      const std::string name = outputEvent(i) + (on ? "_ON" : "_OFF");
      if (hasMessageProfile(existing, name)) {
        NLOG(log(), 0, " Profile " << name << " already defined");
        continue;
      }
      define("Define profile",
             "/admin/control?set&section=signaloutprofiles&profile=" + name + ":_profilename=" + name +
                 ":so_pin=" + getPinOutName(i) + ":so_state=" + (on ? "toggle_on" : "toggle_off") + ":so_time=1",
             answered);
      ++*missing;
    }
  }
  answered(0, std::string());
}

void IODeviceProfileBasedClassic::handleEventList(const std::vector<std::string>& activeEvents, uint64_t timeMs) {
  for (uint32_t i = 0; i < outputCount(); ++i) {
    const std::string name = outputEvent(i);
    reportRelayEvent(name, i, listed(activeEvents, name), timeMs);
  }
  for (uint32_t i = 0; i < inputCount(); ++i) {
    const std::string name = inputEvent(i);
    reportRayEvent(name, i, listed(activeEvents, name), timeMs);
  }
}

IODeviceZl232IOBox::IODeviceZl232IOBox(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, Device* device)
    : IODeviceProfileBasedClassic(handler, channel, "ZL232", Pins{{"mo,29", "mo,30"}, {"mo,7", "mo,8"}}, device) {}

IODeviceZlBusIO::IODeviceZlBusIO(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, Device* device)
    : IODeviceProfileBasedClassic(handler, channel, "IO", Pins{{"kio,1", "kio,2"}, {"kio,1", "kio,2"}}, device) {}

}  // namespace Vantrel
