// The camera's message and event system as far as detectors and I/O boards use it: event
// profiles per event section ("event_ima", "event_sig", "event_msg", ...), message profiles
// ("msgsysprofiles"), signal-output profiles ("signaloutprofiles"), the 20 action groups
// ah1 ... ah20 and, per message, the time it last changed (the event-variable log).
// A triggered event profile makes every action group whose events name it send its message.
// I/O boards: the pins of the boards "ZL232" (serial port) and "IO" (bus) and the RS-232 boxes
// of the model (named by serial). A "event_sig" profile is active while its input pin (sig_sens
// si) or output pin (so) is on; a "event_msg" profile while its ev_name is the last message an
// input of a box sent. Active profiles make up the EST list of the stream's event section.
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

  MessageSystem();

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

  // Sections "msgsysprofiles" and "signaloutprofiles" of /admin/control: read lists
  // "profile=<definition>"; set "profile=<definition>"; "delete_profile=profile:<name>".
  static bool isAdminProfileSection(const std::string& section);
  SectionLines adminProfilesRead(const std::string& section) const;
  bool adminProfilesSet(const std::string& section, const std::string& key, const std::string& value);

  // ---- I/O boards ----
  // The model's RS-232 boxes, by serial (once, before serving).
  void setRs232Boards(const std::vector<std::string>& serials);
  // Input `input` of board `board` ("ZL232", "IO" or a box's serial) goes on or off; false for
  // an unknown board or input.
  bool setBoardInput(const std::string& board, int input, bool on);
  // Fires signal-output profile `name` (switches its pin); false when there is none.
  bool triggerSignalOut(const std::string& name);
  // A message sent to the camera: a configured box switches the outputs its message table's
  // rules name for it ("evtMessageReceived" -> "cmdSetOutputV2"/"cmdSetOutputTimedV2"); false
  // when no rule takes it. An input edge of a box sends the message its "evtInputChanged" rule names.
  bool receiveMessage(const std::string& name);
  // The active board events, and whether the stream carries an event section for them at all
  // (some board event profile is defined).
  std::vector<std::string> activeBoardEvents() const;
  bool hasBoardEvents() const;
  // {"ZL232":{"inputs":[false,false],"outputs":[true,false]},"IO":{...},"<serial>":{...}}
  std::string boardsJson() const;
  // The boxes' configuration, as /api/json/config/ZL_232_IO_Box answers it:
  // {"<serial>":{"MessageConfig":<stored>},...}; a box without one has {}.
  std::string rs232ConfigJson() const;
  // Stores a box's message configuration (a JSON document); false for an unknown serial or a
  // document that is not JSON.
  bool setRs232MessageConfig(const std::string& serial, const std::string& document);

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
  struct Board {
    std::vector<std::string> inputPins, outputPins;  // classic boards; empty for a box
    std::vector<bool> inputs, outputs;
  };
  static std::string profileName(const std::string& definition);
  void sendMessagesOf(const std::string& eventProfile, std::int64_t now);
  bool pinOn(const std::string& pin, bool output) const;  // under the lock

  mutable std::mutex mutex_;
  std::map<std::string, std::map<std::string, std::string>> eventProfiles_;  // section -> name -> definition
  std::map<std::string, std::string> messageProfiles_;                       // name -> definition
  std::map<std::string, std::string> signalOutProfiles_;                     // name -> definition
  Fields actions_[kActionSlots];                                             // field ("name") -> value
  std::map<std::string, std::int64_t> messageTimes_;                         // message -> seconds
  std::map<std::string, Board> boards_;                                      // by name or serial
  std::map<std::string, std::string> boxConfigs_;                            // serial -> document
  std::map<std::string, std::string> heldMessages_;                          // "<serial>_i<k>" -> the last edge message
};

}  // namespace camsim
