// qrmhost's output lines: one JSON object per line, members in the order they are added.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace qrmhost {

using JsonObject = nlohmann::ordered_json;

// {"kind": kind}; members added later follow it.
inline JsonObject kindLine(const char* kind) { return JsonObject{{"kind", kind}}; }

// `line` as people read it too: "error" (the reason as text) right after a non-zero "code", as the
// utility library describes result codes, so that qrmhost's lines and the module's log give the
// same reason; "iso" (ISO 8601, UTC) right after a "time" in milliseconds since 1970.
JsonObject withReadableFields(const JsonObject& line);

// Milliseconds since 1970 as "2023-11-14T22:13:20.500Z".
std::string isoTime(uint64_t milliseconds);

// `line` as compact JSON without a line break. Bytes that are not UTF-8 (a module may hand
// over anything) become U+FFFD, so that the line stays valid JSON.
inline std::string lineText(const JsonObject& line) {
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace qrmhost
