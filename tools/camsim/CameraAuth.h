// Checks the Authorization header of camera requests against the one user of the simulator, as
// a camera set to Basic, to Digest only (RFC 7616: SHA-256 and MD5, qop "auth"), or to either.
// The Digest check is the simulator's own (OpenSSL's digests), not the module's code.
// Thread-safe: the nonces handed out are kept under a lock.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace camsim {

enum class AuthMode { Basic, Digest, Both };

class CameraAuth {
 public:
  CameraAuth(const std::string& user, const std::string& password, AuthMode mode = AuthMode::Basic);

  bool enabled() const { return !user_.empty(); }
  // The scheme the request used ("basic", "digest", "none"), and whether it is accepted: always
  // when authentication is off.
  struct Verdict {
    bool accepted;
    const char* scheme;
  };
  Verdict check(const std::string& method, const std::string& target, const std::string& authorizationHeader);
  // The WWW-Authenticate values of a 401 answer (each a header line): Digest challenges with a
  // fresh nonce, SHA-256 first, and Basic where Basic is accepted.
  std::vector<std::string> challenges();

 private:
  bool basicAccepted(const std::string& header) const;
  bool digestAccepted(const std::string& method, const std::string& header);

  const std::string user_;
  const std::string password_;
  const AuthMode mode_;
  std::mutex mutex_;
  std::deque<std::string> nonces_;  // the latest handed out
  std::uint64_t nextNonce_ = 0;
};

// "basic", "digest" or "both"; false for anything else.
bool parseAuthMode(const std::string& text, AuthMode& mode);

}  // namespace camsim
