#include "SimControl.h"

#include "CameraApi.h"

namespace camsim {

SimControl::SimControl(CameraState& state, RequestLog& log, FaultTable& faults)
    : state_(state), log_(log), faults_(faults) {}

Reply SimControl::handle(const Target& target) {
  const std::string& path = target.path;
  if (path == "/sim/requests") return requests(target);
  if (path == "/sim/fault") return fault(target);
  if (path == "/sim/events") return events(target);
  if (path == "/sim/json") return json(target);
  if (path == "/sim/state") return readSection(state_, target);
  if (path == "/sim/trigger") return trigger(target);
  if (path == "/sim/profiles") {
    Reply reply = Reply::text(200, state_.messages().profilesJson());
    reply.contentType = "application/json";
    return reply;
  }
  if (path == "/sim/reset-profiles") {
    state_.messages().reset();
    return Reply::ok();
  }
  if (path == "/sim/action") return action(target);
  return Reply::notFound();
}

Reply SimControl::requests(const Target& target) {
  Reply reply = Reply::text(200, log_.jsonLines());
  reply.contentType = "application/x-ndjson";
  if (target.valueOr("clear", "") == "1") log_.clear();
  return reply;
}

Reply SimControl::fault(const Target& target) {
  if (target.valueOr("clear", "") == "1") {
    faults_.clear();
    return Reply::ok();
  }
  const FaultParse parsed = parseFault(target);
  if (!parsed.fault) return Reply::text(400, parsed.error + "\r\n");
  faults_.install(*parsed.fault);
  return Reply::ok();
}

Reply SimControl::events(const Target& target) {
  const std::string enable = target.valueOr("enable", "");
  if (enable != "0" && enable != "1") return Reply::text(400, "enable is 0 or 1\r\n");
  const std::string est = target.valueOr("est", "");
  if (est.find_first_of("\r\n") != std::string::npos) return Reply::text(400, "est must be one line\r\n");
  state_.setEvents({enable == "1", est});
  return Reply::ok();
}

Reply SimControl::json(const Target& target) {
  const std::string path = target.valueOr("path", "");
  if (path.compare(0, 10, "/api/json/") != 0) return Reply::text(400, "path must start with /api/json/\r\n");
  if (target.valueOr("reset", "") == "1") {
    state_.removeJsonDocument(path);
    return Reply::ok();
  }
  if (!target.has("body")) return Reply::text(400, "body missing\r\n");
  if (!state_.setJsonDocument(path, target.valueOr("body", ""))) {
    return Reply::text(400, "too many documents\r\n");
  }
  return Reply::ok();
}

}  // namespace camsim

namespace camsim {

Reply SimControl::trigger(const Target& target) {
  if (!state_.messages().trigger(target.valueOr("event", ""))) return Reply::notFound();
  return Reply::ok();
}

// A foreign action group: slot=N (1..20, or "all" for every slot without a name) and name=X.
Reply SimControl::action(const Target& target) {
  const std::string name = target.valueOr("name", "");
  const std::string slot = target.valueOr("slot", "");
  MessageSystem& messages = state_.messages();
  if (slot == "all") {
    for (int n = 1; n <= MessageSystem::kActionSlots; ++n) {
      const auto current = messages.actionRead({"ah" + std::to_string(n) + "_name"});
      if (current.empty() || current.front().second.empty()) messages.setActionName(n, name + std::to_string(n));
    }
    return Reply::ok();
  }
  const auto number = parseNumber(slot, 1, MessageSystem::kActionSlots);
  if (!number || !messages.setActionName(static_cast<int>(*number), name))
    return Reply::text(400, "slot is 1..20 or all\r\n");
  return Reply::ok();
}

}  // namespace camsim
