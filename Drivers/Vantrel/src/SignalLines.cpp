#include "SignalLines.h"

#include <cctype>

namespace Vantrel {

namespace {

// At `at`: `label`, one or more digits (into `value`) and a line end ("\n", "\r\n", or the end of
// the body). Moves `at` past the line end.
bool readLine(const std::string& body, std::size_t& at, const char* label, std::string& value) {
  const std::string expected(label);
  if (body.compare(at, expected.size(), expected) != 0) return false;
  std::size_t end = at + expected.size();
  const std::size_t digits = end;
  while (end < body.size() && std::isdigit(static_cast<unsigned char>(body[end]))) ++end;
  if (end == digits) return false;
  value = body.substr(digits, end - digits);
  if (end < body.size() && body[end] == '\r') ++end;
  if (end < body.size() && body[end] != '\n') return false;
  at = end < body.size() ? end + 1 : end;
  return true;
}

}  // namespace

std::optional<std::array<std::string, 3>> readSignalLines(const std::string& body) {
  for (std::size_t start = body.find("RXD ="); start != std::string::npos; start = body.find("RXD =", start + 1)) {
    std::array<std::string, 3> values;
    std::size_t at = start;
    if (readLine(body, at, "RXD =", values[0]) && readLine(body, at, "CTS =", values[1]) &&
        readLine(body, at, "DSR =", values[2]))
      return values;
  }
  return std::nullopt;
}

}  // namespace Vantrel
