// Reading the camera's answers about its event, message and action profiles: "key=value" lines
// (any of the usual line ends), profile definitions written as ":"-separated "key=value" fields.
// Pure functions of the answer text.
#pragma once

#include <optional>
#include <string>

namespace Vantrel {

// The key of the event profile shown under `displayName`: the first line "<type>=<key>:...
// :_profilename=<displayName>:..." gives <key> (the text up to the first
// ":_profilename=<displayName>:"). The search uses the detector's own event type, so that
// existing profiles of every kind ("ima=", "env=") are found.
std::optional<std::string> findEventProfileKey(const std::string& answer, const std::string& eventType,
                                               const std::string& displayName);

// True when a message profile named `name` is in the answer ("_profilename=<name>:").
bool hasMessageProfile(const std::string& answer, const std::string& name);

// Action groups: "ah<N>_name=<value>" lines.
struct ActionSlots {
  std::string own;   // the slot whose name is the detector's ("ah4"); empty when none
  std::string free;  // the first slot with an empty name; empty when none
};
ActionSlots findActionSlots(const std::string& answer, const std::string& name);

// True when the slot's subactions already send message `name` ("_subactions=0000:action=MS,<name>").
bool hasMessageAction(const std::string& answer, const std::string& name);

}  // namespace Vantrel
