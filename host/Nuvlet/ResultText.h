// The reasons behind the result codes a module reports to its host, as text. Declarations only;
// implemented in libNuvlet.
#pragma once

#include <string>

namespace Talvo {
namespace Utility {

// A short English reason for a result code that the module reports to the host: the module's own
// codes first (they overlap errno values: 4, 6, 8, 9, 10, 12), then the library's, HTTP statuses
// (300-599) and errno values; "success" for 0. One table, so that logs and hosts say the same.
std::string describeResultCode(int code);

}  // namespace Utility
}  // namespace Talvo
