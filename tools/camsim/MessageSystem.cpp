#include "MessageSystem.h"

#include <algorithm>
#include <chrono>

#include <nlohmann/json.hpp>

namespace camsim {

namespace {

// "ah12_events" -> slot 12 and field "events"; nothing for other keys.
std::optional<std::pair<int, std::string>> actionKey(const std::string& key) {
  if (key.compare(0, 2, "ah") != 0) return std::nullopt;
  const size_t underscore = key.find('_', 2);
  if (underscore == std::string::npos || underscore == 2 || underscore > 4) return std::nullopt;
  const std::string digits = key.substr(2, underscore - 2);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const int slot = std::stoi(digits);
  if (slot < 1 || slot > MessageSystem::kActionSlots) return std::nullopt;
  return std::make_pair(slot, key.substr(underscore + 1));
}

// The value of ":key=value" field `key` in a ":"-separated definition; empty when absent.
std::string fieldOf(const std::string& definition, const std::string& key) {
  const std::string marker = ":" + key + "=";
  const size_t at = (":" + definition).find(marker);
  if (at == std::string::npos) return std::string();
  const size_t begin = at + marker.size() - 1;
  const size_t end = definition.find(':', begin);
  return definition.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// Replaces (or appends) field `key` of a definition.
std::string withField(const std::string& definition, const std::string& key, const std::string& value) {
  const std::string marker = ":" + key + "=";
  const size_t at = definition.find(marker);
  if (at == std::string::npos) return definition + marker + value;
  const size_t end = definition.find(':', at + marker.size());
  return definition.substr(0, at) + marker + value + (end == std::string::npos ? "" : definition.substr(end));
}

// The commands of the rules in a box's message table whose event is `evt` with `key` equal to
// `keyValue` (and, when given, "Value" equal to `value`). A table of another shape has none.
bool textIs(const nlohmann::json& object, const char* key, const std::string& text) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() && found->get<std::string>() == text;
}

template <class Key>
std::vector<nlohmann::json> matchingCommands(const std::string& table, const char* evt, const char* key,
                                             const Key& keyValue, std::optional<int> value = std::nullopt) {
  std::vector<nlohmann::json> commands;
  const nlohmann::json config = nlohmann::json::parse(table, nullptr, false);
  if (!config.is_object() || !config.contains("STM") || !config["STM"].is_object()) return commands;
  const auto rules = config["STM"].find("Rules");
  if (rules == config["STM"].end() || !rules->is_array()) return commands;
  for (const auto& rule : *rules) {
    if (!rule.is_object() || !rule.contains("Event") || !rule.contains("Cmd")) continue;
    const auto& event = rule["Event"];
    if (!event.is_object() || !textIs(event, "Evt", evt) || !event.contains(key) || event[key] != keyValue) continue;
    if (value && (!event.contains("Value") || event["Value"] != *value)) continue;
    if (rule["Cmd"].is_object()) commands.push_back(rule["Cmd"]);
  }
  return commands;
}

std::int64_t nowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

MessageSystem::MessageSystem() {
  boards_["ZL232"] = Board{{"mo,29", "mo,30"}, {"mo,7", "mo,8"}, {false, false}, {false, false}};
  boards_["IO"] = Board{{"kio,1", "kio,2"}, {"kio,1", "kio,2"}, {false, false}, {false, false}};
}

std::string MessageSystem::profileName(const std::string& definition) {
  return definition.substr(0, definition.find(':'));
}

bool MessageSystem::eventSet(const std::string& section, const std::string& key, const std::string& value) {
  const std::string type = section.substr(6);  // after "event_"
  std::lock_guard<std::mutex> lock(mutex_);
  auto& profiles = eventProfiles_[section];
  if (key == type) {
    const std::string name = profileName(value);
    if (name.empty() || (profiles.count(name) == 0 && profiles.size() >= kMaxProfiles)) return true;
    profiles[name] = value;
    return true;
  }
  if (key == "delete_profile") {
    if (value.compare(0, type.size() + 1, type + ":") == 0) profiles.erase(value.substr(type.size() + 1));
    return true;
  }
  return key == "set_profile";
}

void MessageSystem::eventProfileFields(const std::string& section, const std::string& profile,
                                       const SectionLines& fields) {
  const std::string type = section.substr(6);
  if (profile.compare(0, type.size() + 1, type + ":") != 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto& profiles = eventProfiles_[section];
  const auto found = profiles.find(profile.substr(type.size() + 1));
  if (found == profiles.end()) return;
  for (const auto& field : fields) found->second = withField(found->second, field.first, field.second);
}

SectionLines MessageSystem::eventRead(const std::string& section, const std::string& type) const {
  SectionLines lines;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = eventProfiles_.find(section);
  if (found != eventProfiles_.end())
    for (const auto& profile : found->second) lines.emplace_back(type, profile.second);
  if (lines.empty()) lines.emplace_back(type, "");  // the camera names the key even without profiles
  return lines;
}

SectionLines MessageSystem::actionRead(const std::vector<std::string>& keys) const {
  SectionLines lines;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& key : keys) {
    const auto parsed = actionKey(key);
    if (!parsed) continue;
    const Fields& group = actions_[parsed->first - 1];
    const auto field = group.find(parsed->second);
    lines.emplace_back(key, field == group.end() ? std::string() : field->second);
  }
  return lines;
}

bool MessageSystem::actionSet(const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (key == "delete_profile") {
    const auto parsed = actionKey(value.substr(0, value.find(':')));
    if (parsed) actions_[parsed->first - 1].erase(parsed->second);
    return true;
  }
  const auto parsed = actionKey(key);
  if (!parsed) return false;
  actions_[parsed->first - 1][parsed->second] = value;
  return true;
}

bool MessageSystem::isAdminProfileSection(const std::string& section) {
  return section == "msgsysprofiles" || section == "signaloutprofiles";
}

SectionLines MessageSystem::adminProfilesRead(const std::string& section) const {
  SectionLines lines;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto& profiles = section == "signaloutprofiles" ? signalOutProfiles_ : messageProfiles_;
  for (const auto& profile : profiles) lines.emplace_back("profile", profile.second);
  if (lines.empty()) lines.emplace_back("profile", "");
  return lines;
}

bool MessageSystem::adminProfilesSet(const std::string& section, const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& profiles = section == "signaloutprofiles" ? signalOutProfiles_ : messageProfiles_;
  if (key == "profile") {
    const std::string name = profileName(value);
    if (!name.empty() && (profiles.count(name) || profiles.size() < kMaxProfiles)) profiles[name] = value;
    return true;
  }
  if (key == "delete_profile") {
    if (value.compare(0, 8, "profile:") == 0) profiles.erase(value.substr(8));
    return true;
  }
  return false;
}

bool MessageSystem::trigger(const std::string& eventProfile) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool known = false;
  for (const auto& section : eventProfiles_) known = known || section.second.count(eventProfile) > 0;
  for (const Fields& group : actions_) {
    const auto events = group.find("events");
    if (events == group.end()) continue;
    const std::string& list = events->second;  // "IMA,<profile>"
    known = known || list.substr(list.find(',') + 1) == eventProfile;
  }
  if (!known) return false;
  sendMessagesOf(eventProfile, nowSeconds());
  return true;
}

// Under the lock.
void MessageSystem::sendMessagesOf(const std::string& eventProfile, std::int64_t now) {
  static const std::string kSend = "action=MS,";
  for (const Fields& group : actions_) {
    const auto name = group.find("name");
    const auto events = group.find("events");
    const auto subactions = group.find("subactions");
    if (name == group.end() || name->second.empty() || events == group.end() || subactions == group.end()) continue;
    if (events->second.substr(events->second.find(',') + 1) != eventProfile) continue;
    const size_t at = subactions->second.find(kSend);
    if (at == std::string::npos) continue;
    const std::string message = profileName(subactions->second.substr(at + kSend.size()));
    const auto profile = messageProfiles_.find(message);
    if (profile == messageProfiles_.end()) continue;
    const std::string sent = fieldOf(profile->second, "message");
    std::int64_t& time = messageTimes_[sent.empty() ? message : sent];
    time = std::max(now, time + 1);  // every send is a change, also within one second
  }
}

std::string MessageSystem::eventVariablesJson() const {
  nlohmann::ordered_json records = nlohmann::ordered_json::array();
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& message : messageTimes_)
    records.push_back(
        {{"path", "messages.local." + message.first}, {"tv_sec", std::to_string(message.second)}, {"type", "changed"}});
  return records.dump();
}

std::string MessageSystem::profilesJson() const {
  nlohmann::ordered_json all;
  std::lock_guard<std::mutex> lock(mutex_);
  all["event_profiles"] = nlohmann::ordered_json::object();
  for (const auto& section : eventProfiles_) {
    auto& list = all["event_profiles"][section.first] = nlohmann::ordered_json::array();
    for (const auto& profile : section.second) list.push_back(profile.second);
  }
  all["message_profiles"] = nlohmann::ordered_json::array();
  for (const auto& profile : messageProfiles_) all["message_profiles"].push_back(profile.second);
  if (!signalOutProfiles_.empty()) {  // the I/O boards' profiles, only when there are any
    auto& list = all["signal_output_profiles"] = nlohmann::ordered_json::array();
    for (const auto& profile : signalOutProfiles_) list.push_back(profile.second);
  }
  all["action_groups"] = nlohmann::ordered_json::object();
  for (int slot = 0; slot < kActionSlots; ++slot) {
    const auto name = actions_[slot].find("name");
    if (name == actions_[slot].end() || name->second.empty()) continue;  // a free slot
    auto& group = all["action_groups"]["ah" + std::to_string(slot + 1)] = nlohmann::ordered_json::object();
    for (const auto& field : actions_[slot]) group[field.first] = field.second;
  }
  return all.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void MessageSystem::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  eventProfiles_.clear();
  messageProfiles_.clear();
  signalOutProfiles_.clear();
  for (Fields& group : actions_) group.clear();
  messageTimes_.clear();
}

bool MessageSystem::setActionName(int slot, const std::string& name) {
  if (slot < 1 || slot > kActionSlots) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  actions_[slot - 1]["name"] = name;
  return true;
}

// ---- I/O boards ----

void MessageSystem::setRs232Boards(const std::vector<std::string>& serials) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& serial : serials) boards_[serial] = Board{{}, {}, {false, false}, {false, false}};
}

bool MessageSystem::setBoardInput(const std::string& board, int input, bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = boards_.find(board);
  if (found == boards_.end() || input < 0 || static_cast<size_t>(input) >= found->second.inputs.size()) return false;
  found->second.inputs[input] = on;
  const auto config = boxConfigs_.find(board);
  if (found->second.inputPins.empty() && config != boxConfigs_.end()) {
    // A configured box: its state machine sends what its rule for this edge says, if any.
    for (const auto& command : matchingCommands(config->second, "evtInputChanged", "Input", input, on ? 1 : 0))
      if (textIs(command, "Cmd", "cmdSendMessage") && command.contains("Message") && command["Message"].is_string())
        heldMessages_[board + "_i" + std::to_string(input + 1)] = command["Message"].get<std::string>();
  }
  return true;
}

bool MessageSystem::pinOn(const std::string& pin, bool output) const {
  for (const auto& board : boards_) {
    const auto& pins = output ? board.second.outputPins : board.second.inputPins;
    const auto& states = output ? board.second.outputs : board.second.inputs;
    for (size_t i = 0; i < pins.size(); ++i)
      if (pins[i] == pin && states[i]) return true;
  }
  return false;
}

bool MessageSystem::triggerSignalOut(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto profile = signalOutProfiles_.find(name);
  if (profile == signalOutProfiles_.end()) return false;
  const std::string pin = fieldOf(profile->second, "so_pin");
  const bool on = fieldOf(profile->second, "so_state") == "toggle_on";
  for (auto& board : boards_)
    for (size_t i = 0; i < board.second.outputPins.size(); ++i)
      if (board.second.outputPins[i] == pin) board.second.outputs[i] = on;
  return true;
}

bool MessageSystem::receiveMessage(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool taken = false;
  for (auto& board : boards_) {
    const auto config = boxConfigs_.find(board.first);
    if (!board.second.inputPins.empty() || config == boxConfigs_.end()) continue;  // unconfigured boxes ignore it
    // The box's state machine switches what its rules for this message say.
    for (const auto& command : matchingCommands(config->second, "evtMessageReceived", "Message", name)) {
      if (!textIs(command, "Cmd", "cmdSetOutputV2") && !textIs(command, "Cmd", "cmdSetOutputTimedV2")) continue;
      const auto output = command.find("Output");
      const auto value = command.find("Value");
      if (output == command.end() || value == command.end() || !output->is_number_unsigned() || !value->is_number())
        continue;
      const auto pin = output->get<std::size_t>();
      if (pin >= board.second.outputs.size()) continue;
      board.second.outputs[pin] = value->get<double>() != 0;  // a timed "on" stays on here
      taken = true;
    }
  }
  return taken;
}

std::vector<std::string> MessageSystem::activeBoardEvents() const {
  std::vector<std::string> active;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto signals = eventProfiles_.find("event_sig");
  if (signals != eventProfiles_.end()) {
    for (const auto& profile : signals->second) {
      const std::string sensor = fieldOf(profile.second, "sig_sens");
      if ((sensor == "si" && pinOn(fieldOf(profile.second, "si_pin"), false)) ||
          (sensor == "so" && pinOn(fieldOf(profile.second, "so_pin"), true)))
        active.push_back(profile.first);
    }
  }
  const auto messages = eventProfiles_.find("event_msg");
  if (messages != eventProfiles_.end()) {
    for (const auto& profile : messages->second) {
      const std::string message = fieldOf(profile.second, "ev_name");
      for (const auto& held : heldMessages_)
        if (held.second == message) active.push_back(profile.first);
    }
  }
  return active;
}

bool MessageSystem::hasBoardEvents() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const char* section : {"event_sig", "event_msg"}) {
    const auto found = eventProfiles_.find(section);
    if (found != eventProfiles_.end() && !found->second.empty()) return true;
  }
  return false;
}

std::string MessageSystem::boardsJson() const {
  nlohmann::ordered_json all = nlohmann::ordered_json::object();
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& board : boards_)
    all[board.first] = {{"inputs", board.second.inputs}, {"outputs", board.second.outputs}};
  return all.dump();
}

std::string MessageSystem::rs232ConfigJson() const {
  nlohmann::ordered_json all = nlohmann::ordered_json::object();
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& board : boards_) {
    if (!board.second.inputPins.empty()) continue;
    const auto config = boxConfigs_.find(board.first);
    all[board.first] = config == boxConfigs_.end()
                           ? nlohmann::ordered_json::object()
                           : nlohmann::ordered_json{{"MessageConfig", nlohmann::ordered_json::parse(config->second)}};
  }
  return all.dump();
}

bool MessageSystem::setRs232MessageConfig(const std::string& serial, const std::string& document) {
  if (!nlohmann::json::accept(document)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto board = boards_.find(serial);
  if (board == boards_.end() || !board->second.inputPins.empty()) return false;
  boxConfigs_[serial] = document;
  return true;
}

}  // namespace camsim
