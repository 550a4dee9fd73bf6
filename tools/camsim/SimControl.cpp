#include "SimControl.h"

#include "CameraApi.h"

#include <algorithm>
#include <sstream>

#include <nlohmann/json.hpp>

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
  if (path == "/sim/identity") return identity(target);
  if (path == "/sim/io") return signalLines(target);
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
  if (path == "/sim/thermal") return thermalControl(state_.thermal(), target);
  if (path == "/sim/speaker") return speakerControl(state_.speaker(), target);
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
  if (parsed.fault->action == FaultAction::Refuse)
    return faults_.refuse(parsed.fault->value) ? Reply::ok() : Reply::text(409, "Nothing listens\r\n");
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

// "?CFL=VX-T40&TSL=" sets values (empty ones too), "?omit=SWV,TSL" leaves headers out.
Reply SimControl::identity(const Target& target) {
  const auto& names = CameraState::identityHeaderNames();
  auto known = [&](const std::string& name) { return std::find(names.begin(), names.end(), name) != names.end(); };
  for (const QueryItem& item : target.query) {
    if (item.name == "omit") {
      std::istringstream list(item.value);
      for (std::string name; std::getline(list, name, ',');) {
        if (!known(name)) return Reply::text(400, "unknown header " + name + "\r\n");
        state_.setIdentityHeader(name, std::nullopt);
      }
    } else if (known(item.name) && item.value.find_first_of("\r\n") == std::string::npos) {
      state_.setIdentityHeader(item.name, item.value);
    } else {
      return Reply::text(400, "SWV, CFL, TSL (one line each) or omit expected\r\n");
    }
  }
  return Reply::ok();
}

// "?rxd=1&cts=0&dsr=1" sets lines, "?raw=<text>" replaces their answer ("?raw" alone: back to the
// lines); "?board=B&input=N&state=0|1" sets an I/O board's input; answers the state as JSON.
Reply SimControl::signalLines(const Target& target) {
  if (target.has("board")) return boardInput(target);
  SignalState signals = state_.signals();
  for (const QueryItem& item : target.query) {
    int* line = item.name == "rxd"   ? &signals.rxd
                : item.name == "cts" ? &signals.cts
                : item.name == "dsr" ? &signals.dsr
                                     : nullptr;
    if (line && (item.value == "0" || item.value == "1")) {
      *line = item.value == "1";
    } else if (item.name == "raw") {
      signals.raw = item.hasValue ? std::optional<std::string>(item.value) : std::nullopt;
    } else {
      return Reply::text(400, "rxd, cts, dsr (0 or 1) or raw expected\r\n");
    }
  }
  state_.setSignals(signals);
  return ioState();
}

Reply SimControl::boardInput(const Target& target) {
  const std::string state = target.valueOr("state", "");
  const auto input = parseNumber(target.valueOr("input", ""), 0, 63);
  if (!input || (state != "0" && state != "1") ||
      !state_.messages().setBoardInput(target.valueOr("board", ""), static_cast<int>(*input), state == "1"))
    return Reply::text(400, "board (a known board), input (one it has) and state (0 or 1) expected\r\n");
  return ioState();
}

Reply SimControl::ioState() {
  const SignalState signals = state_.signals();
  nlohmann::json answer = {{"rxd", signals.rxd},
                           {"cts", signals.cts},
                           {"dsr", signals.dsr},
                           {"output", signals.output},
                           {"boards", nlohmann::json::parse(state_.messages().boardsJson())}};
  Reply reply = Reply::text(200, answer.dump() + "\n");
  reply.contentType = "application/json";
  return reply;
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
