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
  if (!target.has("body")) return Reply::text(400, "body missing\r\n");
  if (!state_.setJsonDocument(path, target.valueOr("body", ""))) {
    return Reply::text(400, "too many documents\r\n");
  }
  return Reply::ok();
}

}  // namespace camsim
