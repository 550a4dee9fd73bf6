// Time stamps in milliseconds since 1970-01-01 UTC and their text form.
#include "host/Nuvlet/Time.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace Talvo {
namespace Utility {

uint64_t timeStamp() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

std::string timestampToString(uint64_t milliseconds) {
  const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
  std::tm parts{};
  if (gmtime_r(&seconds, &parts) == nullptr) return "invalid time";
  char text[64];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(text + length, sizeof text - length, ".%03uZ", static_cast<unsigned>(milliseconds % 1000));
  return text;
}

}  // namespace Utility
}  // namespace Talvo
