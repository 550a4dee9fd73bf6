// The Authorization header of RTSP requests: Basic, or Digest with MD5 (RFC 2617/7616) after
// the server's challenge. Pure apart from the client nonce; one owner thread (the session's).
// Declarations only; implemented in libNuvlet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Nuvlet/include/RtspAnswer.h"

namespace Talvo {
namespace rtsp {

// MD5 of `text` as 32 lower-case hex digits.
std::string md5Hex(const std::string& text);

class RtspAuthorization {
 public:
  RtspAuthorization(std::string user, std::string password) : user_(std::move(user)), password_(std::move(password)) {}

  bool hasCredentials() const { return !user_.empty(); }
  // Takes the server's challenges: Digest (MD5 or unnamed algorithm) is preferred over Basic.
  // False when none can be answered.
  bool accept(const std::vector<Challenge>& challenges);
  // The header value for `method` on `uri`; "" before a challenge was accepted.
  std::string header(const std::string& method, const std::string& uri);
  // Fixes the client nonce (tests); otherwise a random one is drawn per challenge.
  void setClientNonce(std::string nonce) { clientNonce_ = std::move(nonce); }

 private:
  enum class Scheme { None, Basic, Digest };
  std::string user_;
  std::string password_;
  Scheme scheme_ = Scheme::None;
  std::string realm_;
  std::string nonce_;
  std::string opaque_;
  bool qopAuth_ = false;
  uint32_t nonceCount_ = 0;
  std::string clientNonce_;
};

}  // namespace rtsp
}  // namespace Talvo
