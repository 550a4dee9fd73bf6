// The model repository loader.
// Declarations only; implemented in libNuvlet.
#pragma once

#include <string>

#include "../Contract.h"
#include "../DriverInfo.h"

namespace Talvo {
namespace Utility {

// Reads a model repository (JSON, documented in docs/repository.md) into a DriverInfo.
// Errors are logged at level 3 through the logger given, naming the file and what is wrong.
class RepoLoader {
 public:
  explicit RepoLoader(ILogger* logger);
  // 0 on success; 1 when the file cannot be read; 2 when its content is malformed or incomplete.
  // On failure `driverInfo` is left unchanged.
  int load(const std::string& path, GDRV::DriverInfo& driverInfo);
  // The text of the last error ("" after success).
  const std::string& lastError() const { return lastError_; }

 private:
  ILogger* logger_;
  std::string lastError_;
};

}  // namespace Utility
}  // namespace Talvo
