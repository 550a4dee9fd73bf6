// --verbose request lines on stderr. Values of query keys that look like secrets are masked;
// headers (so Authorization) are never written.
// Thread safety: any thread; lines are written whole.
#pragma once

#include <string>

namespace camsim {

class VerboseLog {
 public:
  explicit VerboseLog(bool enabled) : enabled_(enabled) {}

  void request(const std::string& method, const std::string& target, int status) const;

 private:
  bool enabled_;
};

// The target with the values of password-like keys replaced by "***".
std::string maskSecrets(const std::string& target);

}  // namespace camsim
