#include "CameraJson.h"

namespace Vantrel {

nlohmann::json parseCameraJson(const std::string& text, size_t maxDepth) {
  // The reader calls back as each array or object opens, `depth` levels below the root (0).
  const nlohmann::json::parser_callback_t capDepth = [maxDepth](int depth, nlohmann::json::parse_event_t event,
                                                                nlohmann::json&) {
    const bool opens =
        event == nlohmann::json::parse_event_t::object_start || event == nlohmann::json::parse_event_t::array_start;
    if (opens && static_cast<size_t>(depth) >= maxDepth)
      throw CameraJsonTooDeep("nesting deeper than " + std::to_string(maxDepth) + " levels");
    return true;
  };
  return nlohmann::json::parse(text, capDepth);
}

}  // namespace Vantrel
