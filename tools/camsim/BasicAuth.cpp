#include "BasicAuth.h"

#include "host/Nuvlet/Base64.h"

namespace camsim {

BasicAuth::BasicAuth(const std::string& user, const std::string& password) {
  if (!user.empty()) expected_ = "Basic " + Talvo::Utility::base64Encode(user + ":" + password);
}

bool BasicAuth::accepts(const std::string& authorizationHeader) const {
  return expected_.empty() || authorizationHeader == expected_;
}

}  // namespace camsim
