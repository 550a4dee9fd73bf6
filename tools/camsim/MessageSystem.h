// The camera's message and event system as far as detectors use it: event profiles per event
// section ("event_ima", "event_env", ...), message profiles ("msgsysprofiles"), the 20 action
// groups ah1 ... ah20 and, per message, the time it last changed (the event-variable log).
// A triggered event profile makes every action group whose events name it send its message.
// Thread safety: every method may be called from any io thread; one mutex guards all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Models.h"

namespace camsim {

class MessageSystem {
 public:
  static constexpr int kActionSlots = 20;
  static constexpr std::size_t kMaxProfiles = 200;  // per kind: event profiles of a section, messages

  // Event sections ("event_ima"): read of key `type` lists the profiles as "<type>=<definition>"
  // (one "<type>=" line without profiles, as the camera answers; the same for messages);
  // other keys are not profile keys (nothing). Set: "<type>=<definition>" adds or replaces the
  // profile named by the definition's first field; "delete_profile=<type>:<name>" removes it;
  // "set_profile=<type>:<name>" with further key=value pairs writes them as the profile's fields.
  // Returns false for pairs that are none of these (the caller stores them as plain lines).
  bool eventSet(const std::string& section, const std::string& key, const std::string& value);
  void eventProfileFields(const std::string& section, const std::string& profile, const SectionLines& fields);
  SectionLines eventRead(const std::string& section, const std::string& type) const;

  // Section "actions": "ahN_<field>" keys.
  SectionLines actionRead(const std::vector<std::string>& keys) const;
  // "ahN_<field>=value" or "delete_profile=ahN_subactions:0000"; false for other keys.
  bool actionSet(const std::string& key, const std::string& value);

  // Section "msgsysprofiles": read lists "profile=<definition>"; set "profile=<definition>";
  // "delete_profile=profile:<name>".
  SectionLines messageRead() const;
  bool messageSet(const std::string& key, const std::string& value);

  // Sends the messages of every action group whose events name `eventProfile`; false when no
  // event profile or group knows that name. Each sent message gets a change time after its
  // last one (whole seconds, as the camera's log has them).
  bool trigger(const std::string& eventProfile);
  // The event-variable log: [{"path":"messages.local.<m>","tv_sec":"<s>","type":"changed"},...].
  std::string eventVariablesJson() const;
  // Everything, as one JSON object: {"event_profiles":{section:[...]},"message_profiles":[...],
  // "action_groups":{"ah1":{...},...}}; a group without a name is a free slot and not listed.
  std::string profilesJson() const;
  // A camera reset: profiles, groups and message times are forgotten.
  void reset();
  // Gives action slot `slot` (1..20) the name `name` with no events (a foreign group).
  bool setActionName(int slot, const std::string& name);

 private:
  using Fields = std::map<std::string, std::string>;
  static std::string profileName(const std::string& definition);
  void sendMessagesOf(const std::string& eventProfile, std::int64_t now);

  mutable std::mutex mutex_;
  std::map<std::string, std::map<std::string, std::string>> eventProfiles_;  // section -> name -> definition
  std::map<std::string, std::string> messageProfiles_;                       // name -> definition
  Fields actions_[kActionSlots];                                             // field ("name") -> value
  std::map<std::string, std::int64_t> messageTimes_;                         // message -> seconds
};

}  // namespace camsim
