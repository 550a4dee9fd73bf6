#include "BasicAuth.h"

namespace camsim {

std::string base64Encode(const std::string& bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += {alphabet[n >> 18], alphabet[(n >> 12) & 63], alphabet[(n >> 6) & 63], alphabet[n & 63]};
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    const unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
    out += {alphabet[n >> 18], alphabet[(n >> 12) & 63], '=', '='};
  } else if (rest == 2) {
    const unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += {alphabet[n >> 18], alphabet[(n >> 12) & 63], alphabet[(n >> 6) & 63], '='};
  }
  return out;
}

BasicAuth::BasicAuth(const std::string& user, const std::string& password) {
  if (!user.empty()) expected_ = "Basic " + base64Encode(user + ":" + password);
}

bool BasicAuth::accepts(const std::string& authorizationHeader) const {
  return expected_.empty() || authorizationHeader == expected_;
}

}  // namespace camsim
