// The device search's reading of an announcement's TXT values (any bytes from the network):
// the input is the full-name value, a NUL, then the firmware value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "DeviceSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string fullName = input.substr(0, split);
  const std::string firmware = split == std::string::npos ? std::string() : input.substr(split + 1);

  const auto model = Vantrel::DeviceSearch::modelOfFullName(fullName);
  // A model is always the name's own beginning, "VX-" and a code.
  if (model && (model->compare(0, 3, "VX-") != 0 || fullName.compare(0, model->size(), *model) != 0)) std::abort();

  static const auto info = std::make_shared<Talvo::GDRV::DriverInfo>();
  static Vantrel::DeviceSearch* search = new Vantrel::DeviceSearch(nullptr, nullptr, "Vantrel", info);
  const auto result =
      search->makeResult("192.0.2.1", 80, {{Vantrel::kFullNameKey, fullName}, {Vantrel::kFirmwareKey, firmware}});
  if (bool(result) != bool(model) || (result && result->firmware != firmware)) std::abort();
  return 0;
}
