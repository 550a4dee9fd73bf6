#include "IODeviceZl232Gen.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "Device.h"
#include "host/Nuvlet/PercentEncoding.h"

namespace Vantrel {

namespace {

const uint32_t kPins = 2;  // the box has two inputs and two outputs

using Json = nlohmann::ordered_json;

// The box's serial comes from the camera: in a request it is encoded like any value, so that no
// '&', '?' or '/' in it reshapes the request.
std::string encoded(const std::string& text) { return Talvo::Utility::percentEncode(text); }

Json message(const std::string& name) { return {{"Dir", "BI"}, {"Name", name}, {"Sig", ""}, {"Range", "global"}}; }

Json rule(Json event, Json command) { return {{"Event", std::move(event)}, {"Cmd", std::move(command)}}; }

}  // namespace

IODeviceZl232Gen::IODeviceZl232Gen(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, Device* device)
    : IODeviceProfileBased(handler, channel, "ZL232Gen", device) {}

// Messages: the input edges, the outputs' on and off, and a timed "on" per output. The state
// machine sends the edge messages and switches the outputs when their messages arrive.
std::string IODeviceZl232Gen::boardMessageConfig(const std::string& prefix) {
  Json messages = Json::array();
  for (const char* name :
       {"_i1_H", "_i1_L", "_i2_H", "_i2_L", "_o1_on", "_o1_off", "_o2_on", "_o2_off", "_o1_on_1sec", "_o2_on_1sec"})
    messages.push_back(message(prefix + name));
  Json init = Json::array();
  Json rules = Json::array();
  for (uint32_t pin = 0; pin < kPins; ++pin) {
    const std::string number = std::to_string(pin + 1);
    init.push_back({{"Cmd", "cmdCreateTimerV2"}, {"Timer", pin}});
    for (const int value : {1, 0})
      rules.push_back(rule({{"Evt", "evtInputChanged"}, {"Input", pin}, {"Value", value}},
                           {{"Cmd", "cmdSendMessage"}, {"Message", prefix + "_i" + number + (value ? "_H" : "_L")}}));
  }
  for (uint32_t pin = 0; pin < kPins; ++pin) {
    const std::string number = std::to_string(pin + 1);
    for (const int value : {1, 0})
      rules.push_back(
          rule({{"Evt", "evtMessageReceived"}, {"Message", prefix + "_o" + number + (value ? "_on" : "_off")}},
               {{"Cmd", "cmdSetOutputV2"}, {"Output", pin}, {"Value", value}}));
  }
  for (uint32_t pin = 0; pin < kPins; ++pin)
    rules.push_back(
        rule({{"Evt", "evtMessageReceived"}, {"Message", prefix + "_o" + std::to_string(pin + 1) + "_on_1sec"}},
             {{"Cmd", "cmdSetOutputTimedV2"}, {"Output", pin}, {"Value", 1}, {"Timeout", 10}, {"Timer", pin}}));
  const Json config = {{"Messages", std::move(messages)},
                       {"STM", {{"Init", std::move(init)}, {"Rules", std::move(rules)}}}};
  return config.dump(1, '\t');
}

std::string IODeviceZl232Gen::eventProfile(uint32_t input, bool rising) const {
  return "AN" + std::to_string(boardIndex_ + 1) + std::to_string(input + 1) + (rising ? "H" : "L");
}

std::string IODeviceZl232Gen::inputMessage(uint32_t input, bool rising) const {
  return messagePrefix_ + "_i" + std::to_string(input + 1) + (rising ? "_H" : "_L");
}

std::string IODeviceZl232Gen::relayUrl(uint32_t output, bool active) const {
  return "/control/rcontrol?action=message&name=" +
         encoded(messagePrefix_ + "_o" + std::to_string(output + 1) + (active ? "_on" : "_off"));
}

void IODeviceZl232Gen::startProfileDefines() {
  const Talvo::GDRV::PropertyInt* index = channelProperty("baseZl232GenIndex");
  if (!index) {
    NLOG(log(), 3, " Property 'baseZl232GenIndex' is not defined for current device in rep");
    outputsReady();  // the camera answers them
    return;
  }
  if (inputCount() != kPins || outputCount() != kPins) {
    NLOG(log(), 3, " driver developed for 2x2 devices, this device is " << inputCount() << "x" << outputCount());
    outputsReady();
    return;
  }
  boardIndex_ = static_cast<uint32_t>(std::max(0, index->value));
  auto self = std::static_pointer_cast<IODeviceZl232Gen>(shared_from_this());
  manager().getBoardDesc([self] {
    if (self->isStarted()) self->onBoardDescriptions();
  });
}

void IODeviceZl232Gen::onBoardDescriptions() {
  const IODeviceProfileBasedMngr::BoardDescription* board = manager().boardDescription(boardIndex_);
  if (!board) {
    NLOG(log(), 3, " Board " << boardIndex_ << " is not defined on device");
    outputsReady();
    return;
  }
  messagePrefix_ = board->serial;
  auto self = std::static_pointer_cast<IODeviceZl232Gen>(shared_from_this());
  if (board->initialized) {
    NLOG(log(), 0, " Looks like board " << messagePrefix_ << " has been already initialized");
    outputsReady();  // the box knows its output messages
    defineEventProfiles();
    return;
  }
  defineBoardSettings([self] {
    if (!self->isStarted()) return;
    self->outputsReady();
    self->defineEventProfiles();
  });
}

void IODeviceZl232Gen::defineBoardSettings(const std::function<void()>& then) {
  auto self = std::static_pointer_cast<IODeviceZl232Gen>(shared_from_this());
  manager().postJson(
      std::string(IODeviceProfileBasedMngr::kBoardsPath) + "/" + encoded(messagePrefix_) + "/MessageConfig",
      boardMessageConfig(messagePrefix_), prefix() + " Board settings", [self, then](int32_t code, const std::string&) {
        if (code == 0)
          NLOG(self->log(), 0,
               " Board " << self->boardIndex_ << " initialization"
                         << " was finished successfully");
        then();
      });
}

void IODeviceZl232Gen::defineEventProfiles() {
  auto self = std::static_pointer_cast<IODeviceZl232Gen>(shared_from_this());
  manager().readMessageProfiles([self](bool) {
    if (!self->isStarted()) return;
    for (uint32_t input = 0; input < kPins; ++input) {
      for (const bool rising : {true, false}) {
        const std::string profile = self->eventProfile(input, rising);
        const std::string message = self->inputMessage(input, rising);
        if (self->manager().isMessageProfilDefined(profile)) {
          NLOG(self->log(), 0, " Event " << profile << " for message " << message << " already defined");
          continue;
        }
        self->manager().sendRequest(
            "/control/control?set&section=event_msg&msg=" + profile + ":_profilename=" + profile +
                ":msg_dead=5:msg_sens=ms:match=strcmp:case=0:message=:sender=:ev_name=" + encoded(message) +
                ":ev_range=global:ev_match=none:ev_data=",
            self->prefix() + " Define event", nullptr);
      }
    }
    NLOG(self->log(), 0, " Started");
    self->started();
  });
}

void IODeviceZl232Gen::handleEventList(const std::vector<std::string>& activeEvents, uint64_t timeMs) {
  for (uint32_t input = 0; input < std::min(inputCount(), kPins); ++input) {
    for (const bool rising : {true, false}) {
      const std::string profile = eventProfile(input, rising);
      if (std::find(activeEvents.begin(), activeEvents.end(), profile) != activeEvents.end())
        reportRayEvent(profile, input, rising, timeMs);
    }
  }
}

}  // namespace Vantrel
