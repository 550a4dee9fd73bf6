// Time stamps of frames, events and log lines. Declarations only; implemented in libNuvlet.
#pragma once

#include <cstdint>
#include <string>

namespace Talvo {
namespace Utility {

// Milliseconds since 1970-01-01 UTC.
uint64_t timeStamp();
// "2026-12-06T12:30:00.123Z" for a time in milliseconds since 1970-01-01 UTC.
std::string timestampToString(uint64_t milliseconds);

}  // namespace Utility
}  // namespace Talvo
