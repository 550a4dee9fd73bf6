#include "EventSection.h"

#include <algorithm>

#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>

namespace Vantrel {

namespace {

const char kSectionStart[] = "SECTION EVENT";
const uint64_t kMaxSeconds = UINT64_MAX / 1000 - 1;

// "<digits>[.<digits>]" as ms; nothing for anything else or a value out of range.
std::optional<uint64_t> readSeconds(const std::string& text) {
  const size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
  if (whole.empty() || whole.find_first_not_of("0123456789") != std::string::npos ||
      fraction.find_first_not_of("0123456789") != std::string::npos || (point != std::string::npos && fraction.empty()))
    return std::nullopt;
  uint64_t seconds = 0;
  for (char digit : whole) {
    seconds = seconds * 10 + static_cast<uint64_t>(digit - '0');
    if (seconds > kMaxSeconds) return std::nullopt;
  }
  uint64_t ms = 0;
  for (size_t i = 0; i < 3; ++i) ms = ms * 10 + (i < fraction.size() ? static_cast<uint64_t>(fraction[i] - '0') : 0);
  return seconds * 1000 + ms;
}

std::vector<std::string> splitNames(const std::string& list) {
  std::vector<std::string> names;
  boost::algorithm::split(names, list, [](char c) { return c == ','; });
  for (std::string& name : names) boost::algorithm::trim(name);
  names.erase(std::remove_if(names.begin(), names.end(), [](const std::string& name) { return name.empty(); }),
              names.end());
  return names;
}

}  // namespace

std::optional<EventSection> readEventSection(const std::string& text) {
  // The picture's own bytes may come first: the lines start after the last section mark.
  const size_t mark = text.rfind(kSectionStart);
  size_t begin = mark == std::string::npos ? 0 : mark + sizeof(kSectionStart) - 1;
  std::optional<std::string> time;
  std::string list;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, 4, "TIT=") == 0) time = line.substr(4);
    if (line.compare(0, 4, "EST=") == 0) list = line.substr(4);
    begin = end + 1;
  }
  if (!time) return std::nullopt;
  const auto ms = readSeconds(*time);
  if (!ms) return std::nullopt;
  return EventSection{*ms, splitNames(list)};
}

}  // namespace Vantrel
