// The thermal camera's key=value answers, any bytes: the raw-data switch ("uhu_raw_data") and the
// device temperatures ("TIT", "TIN", "TOU"). A value found lies in the answer right after its
// "key=", holds no line break, and reads as a number or is refused with an exception.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "TemperaturesDetection.h"
#include "host/Nuvlet/NumberText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  for (const char* key : {"uhu_raw_data", "TIT", "TIN", "TOU"}) {
    const auto value = Vantrel::answerValue(body, key);
    if (!value) continue;
    if (value->find_first_of("\r\n") != std::string::npos) std::abort();
    if (body.find(std::string(key) + "=" + *value) == std::string::npos) std::abort();
    try {
      (void)Talvo::Utility::stringToDouble(*value);
    } catch (const std::exception&) {
    }
  }
  return 0;
}
