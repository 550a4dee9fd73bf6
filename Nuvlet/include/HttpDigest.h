// Camera authorisation: Basic sent up front (cameras rely on it), Digest (RFC 7616: MD5 or
// SHA-256, qop "auth" or none) once a camera asks for it, and never Basic to a camera whose
// connection text says "?auth=digest". One piece for every request kind: the HTTP requests, the
// streams, the loudspeaker, the RTSP client and the event stream. Declarations only;
// implemented in libNuvlet.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/HttpMessage.h"

namespace Talvo {
namespace http {

// One challenge of a WWW-Authenticate header: the scheme in lower case ("basic", "digest") and
// its parameters with lower-case names and unquoted values.
struct Challenge {
  std::string scheme;
  std::map<std::string, std::string> params;
};
// Reads one WWW-Authenticate value ("Digest realm="cam", nonce="x", qop="auth""). Camera
// bytes: any text gives a result, at most kMaxChallengeParams parameters are kept.
Challenge parseChallenge(const std::string& value);
constexpr size_t kMaxChallengeParams = 32;
// Every challenge of an answer's WWW-Authenticate headers (one per header line).
std::vector<Challenge> challengesOf(const HttpHeaders& headers);

// The hex digest of `text` with "MD5" or "SHA-256" (case ignored); "" for another algorithm.
std::string digestHex(const std::string& algorithm, const std::string& text);

// The Authorization header of one server's requests, as its challenges ask. Pure apart from
// the client nonce; one owner at a time (callers lock).
class DigestAuthorization {
 public:
  DigestAuthorization(std::string user, std::string password) : user_(std::move(user)), password_(std::move(password)) {}

  bool hasCredentials() const { return !user_.empty(); }
  // Takes the server's challenges: Digest (SHA-256, then MD5 or an unnamed algorithm) before
  // Basic. False when none can be answered.
  bool accept(const std::vector<Challenge>& challenges);
  // The header value for `method` on `uri`; "" before a challenge was accepted.
  std::string header(const std::string& method, const std::string& uri);
  bool usesDigest() const { return scheme_ == Scheme::Digest; }
  const std::string& nonce() const { return nonce_; }
  const std::string& password() const { return password_; }
  // Fixes the client nonce (tests); otherwise a random one is drawn per challenge.
  void setClientNonce(std::string nonce) { clientNonce_ = std::move(nonce); }

 private:
  enum class Scheme { None, Basic, Digest };
  std::string user_;
  std::string password_;
  Scheme scheme_ = Scheme::None;
  std::string algorithm_;  // "MD5" or "SHA-256"
  std::string realm_;
  std::string nonce_;
  std::string opaque_;
  bool qopAuth_ = false;
  uint32_t nonceCount_ = 0;
  std::string clientNonce_;
};

// ---- Per camera (scheme, host, port, user), shared by every request of the process; any thread.

// The Authorization value for a request: Digest once the camera asked for it, else Basic
// unless the connection text says "?auth=digest" (then nothing until the first challenge);
// "" without a user.
std::string cameraAuthorization(const asio::ConnectionInfo& info, const std::string& method, const std::string& uri);
// Takes the challenges of a 401 answer from `info`'s camera; later requests answer it. True when
// a Digest challenge could be taken: the request is then worth sending once more (once only: a
// second 401 means a wrong password). False without credentials, without a Digest challenge
// we can answer, or with "?auth=basic".
bool acceptCameraChallenges(const asio::ConnectionInfo& info, const HttpHeaders& answerHeaders);
// Forgets every camera's Digest state (tests).
void forgetCameraChallenges();

}  // namespace http
}  // namespace Talvo
