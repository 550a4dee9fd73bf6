#include "CameraApi.h"

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

Reply CameraApi::handle(const Target& target, const std::string& rawQuery) {
  const std::string& path = target.path;
  if (path == "/control/control") return control(target);
  if (path == "/admin/control") return adminControl(rawQuery);
  if (path == "/admin/audio") return adminAudio(target);
  if (path == "/admin/rcontrol" || path == "/control/rcontrol") return Reply::ok();
  if (path == "/control/click.cgi") return Reply::ok();  // PTZ: accepted, and in the request log
  if (path == "/record/current.jpg") return currentPicture();
  if (path.compare(0, 10, "/api/json/") == 0) return json(target);
  return Reply::notFound();
}

Reply CameraApi::control(const Target& target) {
  if (target.has("read")) return readSection(state_, target);
  const QueryItem* section = target.find("section");
  if (!section || section->value.empty()) return Reply::text(400, "Missing section\r\n");
  // The camera treats any request naming a section without "read" as a set.
  SectionLines lines;
  for (const QueryItem& item : target.query) {
    if (!isControlWord(item.name) && item.hasValue) lines.emplace_back(item.name, item.value);
  }
  state_.set(section->value, lines);
  return Reply::ok();
}

Reply CameraApi::adminControl(const std::string& rawQuery) {
  // Message-system profiles are only remembered for now.
  state_.recordAdminQuery(rawQuery);
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

Reply CameraApi::json(const Target& target) {
  const auto document = state_.jsonDocument(target.path);
  if (!document) return Reply::notFound();
  Reply reply = Reply::text(200, *document);
  reply.contentType = "application/json";
  return reply;
}

Reply CameraApi::currentPicture() {
  Reply reply = Reply::text(200, pictures_.picture(snapshotCount_++)->key);
  reply.contentType = "image/jpeg";
  const ModelInfo& model = state_.model();
  reply.headers.emplace_back("SWV", model.firmware);
  reply.headers.emplace_back("CFL", model.name);
  if (model.thermal) reply.headers.emplace_back("TSL", "TR-1");
  return reply;
}

}  // namespace camsim
