// The signal-lines answer of the camera's serial port: any body, found or not, and the values
// found are digits only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SignalLines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  if (const auto lines = Vantrel::readSignalLines(body))
    for (const std::string& value : *lines)
      if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) std::abort();
  return 0;
}
