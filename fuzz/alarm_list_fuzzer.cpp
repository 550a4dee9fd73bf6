// The camera's answers about its edge storage, any text: the event list parses or throws a
// std::exception, the storage span always parses.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "RecordingList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  Vantrel::parseStorageSpan(body);
  if (Vantrel::isEmptyAlarmList(body)) return 0;
  try {
    for (const Vantrel::Recording& recording : Vantrel::parseAlarmList(body)) (void)recording.end();
  } catch (const std::exception&) {
  }
  return 0;
}
