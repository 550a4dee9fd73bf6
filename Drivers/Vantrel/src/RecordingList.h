// The camera's answers about its edge storage, read without any I/O:
//  - "/control/event.jpg?output=evtinfo": key=value items, among them "headtime_usec" and
//    "tailtime_usec" (decimal seconds of the oldest and newest stored picture);
//  - "?output=alarmlist_extended": a JSON array of event sequences, newest first, each with
//    "alarmimage" (its identifier), "timestamp" (decimal seconds) and "seqinfo" {"length_sec"}.
// Every function is pure and safe on any input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Vantrel {

// One recorded event sequence of the camera.
struct Recording {
  std::string id;      // the camera's "alarmimage"
  uint64_t start = 0;  // ms since 1970
  int32_t length = 0;  // seconds
  uint64_t end() const { return start + static_cast<uint64_t>(static_cast<int64_t>(length) * 1000); }
};

// The stored span in ms since 1970; a missing or unreadable item gives 0.
struct StorageSpan {
  uint64_t head = 0;
  uint64_t tail = 0;
};
StorageSpan parseStorageSpan(const std::string& body);

// True for an answer that lists nothing: empty, or beginning with "[\n]\n".
bool isEmptyAlarmList(const std::string& body);

// The sequences in the answer's order. Throws std::exception (with the parser's text) when the
// answer is no JSON array of such objects.
std::vector<Recording> parseAlarmList(const std::string& body);

// Decimal seconds to ms since 1970, truncated; 0 for negative or unreadable values.
uint64_t secondsToMilliseconds(double seconds);

}  // namespace Vantrel
