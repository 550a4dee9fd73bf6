#include "ProfileAnswers.h"

#include <functional>

namespace Vantrel {

namespace {

// Calls `each` with every line of `text` (without its line end) until it returns false.
void forEachLine(const std::string& text, const std::function<bool(const std::string&)>& each) {
  size_t begin = 0;
  while (begin <= text.size()) {
    const size_t end = text.find_first_of("\r\n", begin);
    const std::string line = text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (!each(line) || end == std::string::npos) return;
    begin = end + 1;
  }
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::optional<std::string> findEventProfileKey(const std::string& answer, const std::string& eventType,
                                               const std::string& displayName) {
  const std::string start = eventType + "=";
  const std::string shown = ":_profilename=" + displayName + ":";
  std::optional<std::string> key;
  forEachLine(answer, [&](const std::string& line) {
    if (!startsWith(line, start)) return true;
    const size_t at = line.find(shown, start.size());
    if (at == std::string::npos) return true;
    key = line.substr(start.size(), at - start.size());
    return false;
  });
  return key;
}

bool hasMessageProfile(const std::string& answer, const std::string& name) {
  return answer.find("_profilename=" + name + ":") != std::string::npos;
}

ActionSlots findActionSlots(const std::string& answer, const std::string& name) {
  static const std::string kName = "_name=";
  ActionSlots slots;
  forEachLine(answer, [&](const std::string& line) {
    if (!startsWith(line, "ah")) return true;
    const size_t at = line.find(kName, 2);
    if (at == std::string::npos || at == 2) return true;
    const std::string slot = line.substr(0, at);
    const std::string value = line.substr(at + kName.size());
    if (value == name) {
      slots.own = slot;
      return false;
    }
    if (value.empty() && slots.free.empty()) slots.free = slot;
    return true;
  });
  return slots;
}

bool hasMessageAction(const std::string& answer, const std::string& name) {
  return answer.find("_subactions=0000:action=MS," + name) != std::string::npos;
}

}  // namespace Vantrel
