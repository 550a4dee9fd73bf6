// The camera's answer listing its RS-232 boards (JSON), any bytes: it is read or refused with an
// exception; a board read always has a serial from the answer's member names.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "IODeviceProfileBasedMngr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  try {
    for (const auto& board : Vantrel::IODeviceProfileBasedMngr::parseBoards(body)) (void)board.serial.size();
  } catch (const std::exception&) {
  }
  return 0;
}
