#include "CameraApi.h"

#include <chrono>

namespace camsim {

namespace {

// Query items that steer the request rather than naming configuration keys.
bool isControlWord(const std::string& name) { return name == "read" || name == "set" || name == "section"; }

}  // namespace

std::string formatSection(const SectionLines& lines) {
  std::string body;
  for (const auto& line : lines) body += line.first + "=" + line.second + "\r\n";
  return body;
}

Reply readSection(const CameraState& state, const Target& target) {
  const QueryItem* section = target.find("section");
  if (!section || section->value.empty()) return Reply::text(400, "Missing section\r\n");
  std::vector<std::string> keys;
  for (const QueryItem& item : target.query) {
    if (!isControlWord(item.name)) keys.push_back(item.name);
  }
  const auto lines = state.read(section->value, keys);
  if (!lines) return Reply::text(404, "Unknown section\r\n");
  return Reply::text(200, formatSection(*lines));
}

CameraApi::CameraApi(CameraState& state, const PictureSource& pictures) : state_(state), pictures_(pictures) {}

Reply CameraApi::handle(const Target& target, const std::string& rawQuery, const std::string& body) {
  const std::string& path = target.path;
  if (path == "/control/control") return control(target);
  if (path == "/admin/control") return adminControl(target, rawQuery);
  if (path == "/admin/audio") return adminAudio(target);
  if (path == "/admin/rcontrol" || path == "/control/rcontrol") return remoteControl(target);
  if (path == "/control/click.cgi") return Reply::ok();  // PTZ: accepted, and in the request log
  if (path == "/record/current.jpg") return currentPicture();
  if (path.compare(0, 10, "/api/json/") == 0) return json(target, body);
  return Reply::notFound();
}

// The serial port: "action=rs232sigin" answers the signal lines, "sigouthigh"/"sigoutlow"
// switch the signal output; I/O boards: "sigout&name=<profile>" fires a signal-output profile,
// "message&name=<message>" sends a message to the boxes (404 when nothing takes either); other
// actions are taken without effect; "getText&message=..." answers the message with the
// device temperatures filled in (thermal models).
Reply CameraApi::remoteControl(const Target& target) {
  const std::string action = target.valueOr("action", "");
  SignalState signals = state_.signals();
  if (action == "rs232sigin") {
    if (signals.raw) return Reply::text(200, *signals.raw);
    return Reply::text(200, "RXD =" + std::to_string(signals.rxd) + "\r\nCTS =" + std::to_string(signals.cts) +
                                "\r\nDSR =" + std::to_string(signals.dsr) + "\r\n");
  }
  if (action == "sigout" || action == "message") {
    const std::string name = target.valueOr("name", "");
    const bool taken =
        action == "sigout" ? state_.messages().triggerSignalOut(name) : state_.messages().receiveMessage(name);
    return taken ? Reply::ok() : Reply::notFound();
  }
  if (action == "getText") {
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
    return Reply::text(200, deviceTemperatureText(state_.thermal().settings(), target.valueOr("message", ""),
                                                  static_cast<std::uint64_t>(now.count())));
  }
  if (action == "sigouthigh" || action == "sigoutlow") {
    signals.output = action == "sigouthigh";
    state_.setSignals(signals);
  }
  return Reply::ok();
}

static bool isEventSection(const std::string& section) {
  return section.compare(0, 6, "event_") == 0 && section.size() > 6;
}

Reply CameraApi::control(const Target& target) {
  const QueryItem* section = target.find("section");
  const bool messageSystem = section && (isEventSection(section->value) || section->value == "actions");
  if (target.has("read")) return messageSystem ? messageSystemRead(target) : readSection(state_, target);
  if (!section || section->value.empty()) return Reply::text(400, "Missing section\r\n");
  // The camera treats any request naming a section without "read" as a set.
  SectionLines lines;
  if (messageSystem) {
    messageSystemSet(section->value, target, lines);
  } else {
    for (const QueryItem& item : target.query) {
      if (!isControlWord(item.name) && item.hasValue) lines.emplace_back(item.name, item.value);
    }
  }
  if (!lines.empty() || !messageSystem) state_.set(section->value, lines);
  return Reply::ok();
}

// Event sections list their profiles under the event type's key, other keys as stored lines;
// "actions" answers every ahN_<field> key asked for, empty when unset.
Reply CameraApi::messageSystemRead(const Target& target) {
  const std::string section = target.valueOr("section", "");
  std::vector<std::string> keys;
  for (const QueryItem& item : target.query)
    if (!isControlWord(item.name)) keys.push_back(item.name);
  if (section == "actions") return Reply::text(200, formatSection(state_.messages().actionRead(keys)));
  const std::string type = section.substr(6);
  SectionLines lines;
  std::vector<std::string> plainKeys;
  for (const std::string& key : keys) {
    if (key == type) {
      const auto profiles = state_.messages().eventRead(section, type);
      lines.insert(lines.end(), profiles.begin(), profiles.end());
    } else {
      plainKeys.push_back(key);
    }
  }
  if (keys.empty() || !plainKeys.empty()) {
    if (const auto stored = state_.read(section, plainKeys)) lines.insert(lines.end(), stored->begin(), stored->end());
  }
  return Reply::text(200, formatSection(lines));
}

// Profile and group changes go to the message system; other pairs into `plain`.
void CameraApi::messageSystemSet(const std::string& section, const Target& target, SectionLines& plain) {
  MessageSystem& messages = state_.messages();
  SectionLines pairs;
  for (const QueryItem& item : target.query)
    if (!isControlWord(item.name) && item.hasValue) pairs.emplace_back(item.name, item.value);
  if (section != "actions") {
    if (const QueryItem* profile = target.find("set_profile")) {
      SectionLines fields;
      for (const auto& pair : pairs)
        if (pair.first != "set_profile") fields.push_back(pair);
      messages.eventProfileFields(section, profile->value, fields);
      return;
    }
  }
  for (const auto& pair : pairs) {
    const bool taken = section == "actions" ? messages.actionSet(pair.first, pair.second)
                                            : messages.eventSet(section, pair.first, pair.second);
    if (!taken) plain.push_back(pair);
  }
}

Reply CameraApi::adminControl(const Target& target, const std::string& rawQuery) {
  state_.recordAdminQuery(rawQuery);
  const std::string section = target.valueOr("section", "");
  if (!MessageSystem::isAdminProfileSection(section)) return Reply::ok();
  if (target.has("read")) return Reply::text(200, formatSection(state_.messages().adminProfilesRead(section)));
  for (const QueryItem& item : target.query)
    if (item.hasValue) state_.messages().adminProfilesSet(section, item.name, item.value);
  return Reply::ok();
}

Reply CameraApi::adminAudio(const Target& target) {
  const QueryItem* micro = target.find("setMicro");
  if (micro) {
    if (micro->value != "0" && micro->value != "1") return Reply::text(400, "setMicro is 0 or 1\r\n");
    state_.setMicrophone(micro->value == "1");
  }
  return Reply::ok();
}

// A request with a body writes: only an RS-232 box's message configuration can be written.
Reply CameraApi::json(const Target& target, const std::string& body) {
  if (!body.empty()) return writeBoxConfig(target.path, body);
  const auto document = state_.jsonDocument(target.path);
  if (!document) return Reply::notFound();
  Reply reply = Reply::text(200, *document);
  reply.contentType = "application/json";
  return reply;
}

Reply CameraApi::writeBoxConfig(const std::string& path, const std::string& body) {
  const std::string boards = std::string(kRs232BoardsPath) + "/";
  const std::string suffix = "/MessageConfig";
  if (path.compare(0, boards.size(), boards) != 0 || path.size() <= boards.size() + suffix.size() ||
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
    return Reply::notFound();
  const std::string serial = path.substr(boards.size(), path.size() - boards.size() - suffix.size());
  if (!state_.messages().setRs232MessageConfig(serial, body)) return Reply::text(400, "Unknown box or not JSON\r\n");
  return Reply::ok();
}

Reply CameraApi::currentPicture() {
  Reply reply = Reply::text(200, pictures_.picture(snapshotCount_++)->key);
  reply.contentType = "image/jpeg";
  for (auto& header : state_.identityHeaders()) reply.headers.push_back(std::move(header));
  return reply;
}

}  // namespace camsim
