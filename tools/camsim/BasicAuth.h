// Checks "Authorization: Basic ..." headers against the one user of the simulator.
// Immutable after construction; any thread.
#pragma once

#include <string>

namespace camsim {

class BasicAuth {
 public:
  BasicAuth(const std::string& user, const std::string& password);

  bool enabled() const { return !expected_.empty(); }
  // True when authentication is off or the header carries the right user and password.
  bool accepts(const std::string& authorizationHeader) const;

 private:
  std::string expected_;  // "Basic <base64 of user:password>", empty when off
};

}  // namespace camsim
