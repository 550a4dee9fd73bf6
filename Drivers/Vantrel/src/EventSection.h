// The event section that the camera writes into the pictures of its server-push stream:
//   "SECTION EVENT", then "key=value" lines, among them "TIT=<seconds since 1970>" (the
//   camera's time, optionally with a fraction) and "EST=<name>,<name>,..." (the events active
//   now). The text ends before "ENDSECTION EVENT". Pure; safe on any bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Vantrel {

struct EventSection {
  uint64_t timeMs = 0;                    // TIT, in ms since 1970
  std::vector<std::string> activeEvents;  // EST split at ",", blanks trimmed, empty names dropped
};

// Nothing when the text holds no readable time stamp (TIT missing or not a number).
std::optional<EventSection> readEventSection(const std::string& text);

}  // namespace Vantrel
