// The camera's answer to "/control/rcontrol?action=rs232sigin": the serial port's signal lines
// as "RXD =<digits>", "CTS =<digits>" and "DSR =<digits>" on consecutive lines, somewhere in the
// body. Pure; safe on any bytes.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace Vantrel {

// The three values (RXD, CTS, DSR) as written, or nothing when the body does not hold the lines.
std::optional<std::array<std::string, 3>> readSignalLines(const std::string& body);

}  // namespace Vantrel
