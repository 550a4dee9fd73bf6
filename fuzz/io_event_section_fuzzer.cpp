// The event section of the server-push stream: any text, read or not; the names read are never
// empty, carry no separator and no blank at their ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "EventSection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (const auto section = Vantrel::readEventSection(text))
    for (const std::string& name : section->activeEvents)
      if (name.empty() || name.find(',') != std::string::npos || name.front() == ' ' || name.back() == ' ')
        std::abort();
  return 0;
}
