#include "RecordingList.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

#include <boost/algorithm/string.hpp>
#include <nlohmann/json.hpp>

#include "CameraJson.h"

#include "host/Nuvlet/NumberText.h"

namespace Vantrel {

uint64_t secondsToMilliseconds(double seconds) {
  const double ms = seconds * 1000.0;
  // A value beyond what 64 bits hold is as unreadable as a negative one.
  if (!std::isfinite(ms) || ms < 0 || ms >= 18446744073709551615.0) return 0;
  return static_cast<uint64_t>(ms);
}

namespace {

double readDecimal(const std::string& text) {
  try {
    return Talvo::Utility::stringToDouble(text);
  } catch (const std::exception&) {
    return 0;
  }
}

std::string readId(const nlohmann::json& value) {
  if (value.is_number_unsigned()) return std::to_string(value.get<uint64_t>());
  return value.get<std::string>();
}

// "timestamp" comes as a number or as a text holding one.
double readSeconds(const nlohmann::json& value) {
  if (value.is_number()) return value.get<double>();
  if (value.is_string()) return readDecimal(value.get<std::string>());
  throw std::invalid_argument("timestamp is neither a number nor a text");
}

int32_t readLength(const nlohmann::json& event) {
  const auto seqinfo = event.find("seqinfo");
  if (seqinfo == event.end() || !seqinfo->is_object()) return 0;
  const auto length = seqinfo->find("length_sec");
  if (length == seqinfo->end()) return 0;
  const int64_t seconds = length->is_string() ? std::atoll(length->get<std::string>().c_str()) : length->get<int64_t>();
  if (seconds < 0 || seconds > std::numeric_limits<int32_t>::max()) throw std::out_of_range("length_sec out of range");
  return static_cast<int32_t>(seconds);
}

}  // namespace

StorageSpan parseStorageSpan(const std::string& body) {
  StorageSpan span;
  std::vector<std::string> items;
  boost::algorithm::split(items, body, boost::algorithm::is_any_of("\r\n&"), boost::algorithm::token_compress_on);
  for (const std::string& item : items) {
    const size_t equals = item.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = boost::algorithm::trim_copy(item.substr(0, equals));
    if (key == "headtime_usec") span.head = secondsToMilliseconds(readDecimal(item.substr(equals + 1)));
    if (key == "tailtime_usec") span.tail = secondsToMilliseconds(readDecimal(item.substr(equals + 1)));
  }
  return span;
}

bool isEmptyAlarmList(const std::string& body) { return body.empty() || body.compare(0, 4, "[\n]\n") == 0; }

std::vector<Recording> parseAlarmList(const std::string& body) {
  // The answer is wrapped as the camera's own clients read it, so that an answer that is no
  // array still parses as far as it goes and fails on the missing array.
  const nlohmann::json wrapped = parseCameraJson("{ \"obj\":" + body + "}");
  const nlohmann::json& events = wrapped.at("obj");
  if (!events.is_array()) throw std::invalid_argument("the event list is not an array");
  std::vector<Recording> recordings;
  recordings.reserve(events.size());
  for (const nlohmann::json& event : events) {
    Recording recording;
    recording.id = readId(event.at("alarmimage"));
    recording.start = secondsToMilliseconds(readSeconds(event.at("timestamp")));
    recording.length = readLength(event);
    recordings.push_back(std::move(recording));
  }
  return recordings;
}

}  // namespace Vantrel
