// Camera authorisation: Basic up front, Digest (MD5, SHA-256) on challenge, per camera.
#include "Nuvlet/include/HttpDigest.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include "HexText.h"
#include "host/Nuvlet/Base64.h"

namespace Talvo {
namespace http {

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

using text::lowerHex;

std::string randomNonce() {
  unsigned char bytes[12] = {};
  if (RAND_bytes(bytes, sizeof bytes) != 1) return "0a4f113b5e6c7d8e9fa0b1c2";
  return lowerHex(bytes, sizeof bytes);
}

void skipSeparators(const std::string& text, size_t& at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == ',')) ++at;
}

// Parameters "name=value" or name="quoted value", separated by commas.
std::map<std::string, std::string> challengeParams(const std::string& text, size_t at) {
  std::map<std::string, std::string> params;
  for (skipSeparators(text, at); at < text.size() && params.size() < kMaxChallengeParams; skipSeparators(text, at)) {
    const size_t equals = text.find('=', at);
    if (equals == std::string::npos) break;
    std::string name = text.substr(at, equals - at);
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == ' ' || c == '\t'; }), name.end());
    at = equals + 1;
    std::string value;
    if (at < text.size() && text[at] == '"') {
      for (++at; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) ++at;
        value += text[at];
      }
      ++at;  // the closing quote
    } else {
      const size_t stop = std::min(text.find(',', at), text.size());
      value = text.substr(at, stop - at);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
      at = stop;
    }
    params[lower(name)] = value;
  }
  return params;
}

// The qop list names "auth" as one of its comma-separated items.
bool offersAuth(const std::string& qop) {
  size_t at = 0;
  while (at <= qop.size()) {
    const size_t comma = std::min(qop.find(',', at), qop.size());
    std::string item = qop.substr(at, comma - at);
    item.erase(std::remove_if(item.begin(), item.end(), [](char c) { return c == ' ' || c == '\t'; }), item.end());
    if (item == "auth") return true;
    at = comma + 1;
  }
  return false;
}

std::string param(const Challenge& challenge, const std::string& name) {
  const auto found = challenge.params.find(name);
  return found == challenge.params.end() ? std::string() : found->second;
}

// The algorithm a Digest challenge names, as we write it ("MD5" when unnamed); "" when unknown.
std::string algorithmOf(const Challenge& challenge) {
  const auto named = challenge.params.find("algorithm");
  if (named == challenge.params.end()) return "MD5";
  const std::string name = lower(named->second);
  if (name == "md5") return "MD5";
  if (name == "sha-256") return "SHA-256";
  return "";
}

// Text that can stand in a header's quoted string: no line breaks or other control characters.
bool quotable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u == '\t' || (u >= 0x20 && u != 0x7f);
  });
}

// `text` as a quoted string: '"' and '\\' escaped. Precondition: quotable(text).
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A Digest challenge we can answer with `algorithm`: it has a nonce, a qop of "auth" if any, and
// values that can go back in our header.
const Challenge* findDigest(const std::vector<Challenge>& challenges, const std::string& algorithm) {
  for (const Challenge& challenge : challenges) {
    if (challenge.scheme != "digest" || algorithmOf(challenge) != algorithm) continue;
    if (challenge.params.count("nonce") == 0) continue;
    if (!quotable(param(challenge, "realm")) || !quotable(param(challenge, "nonce")) ||
        !quotable(param(challenge, "opaque")))
      continue;
    if (challenge.params.count("qop") && !offersAuth(param(challenge, "qop"))) continue;
    return &challenge;
  }
  return nullptr;
}

}  // namespace

Challenge parseChallenge(const std::string& value) {
  Challenge challenge;
  const size_t blank = value.find(' ');
  challenge.scheme = lower(value.substr(0, blank));
  if (blank != std::string::npos) challenge.params = challengeParams(value, blank + 1);
  return challenge;
}

std::vector<Challenge> challengesOf(const HttpHeaders& headers) {
  std::vector<Challenge> found;
  const auto range = headers.equal_range("WWW-Authenticate");
  for (auto it = range.first; it != range.second; ++it) found.push_back(parseChallenge(it->second));
  return found;
}

std::string digestHex(const std::string& algorithm, const std::string& text) {
  const std::string name = lower(algorithm);
  const EVP_MD* md = name == "md5" ? EVP_md5() : name == "sha-256" ? EVP_sha256() : nullptr;
  if (!md) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &size, md, nullptr) != 1) return {};
  return lowerHex(digest, size);
}

bool DigestAuthorization::accept(const std::vector<Challenge>& challenges) {
  const Challenge* digest = findDigest(challenges, "SHA-256");
  if (!digest) digest = findDigest(challenges, "MD5");
  if (digest) {
    scheme_ = Scheme::Digest;
    algorithm_ = algorithmOf(*digest);
    realm_ = param(*digest, "realm");
    nonce_ = param(*digest, "nonce");
    opaque_ = param(*digest, "opaque");
    qopAuth_ = digest->params.count("qop") != 0;
    nonceCount_ = 0;
    if (clientNonce_.empty()) clientNonce_ = randomNonce();
    return true;
  }
  for (const Challenge& challenge : challenges)
    if (challenge.scheme == "basic") {
      scheme_ = Scheme::Basic;
      return true;
    }
  return false;
}

std::string DigestAuthorization::header(const std::string& method, const std::string& uri) {
  if (scheme_ == Scheme::Basic) return "Basic " + Utility::base64Encode(user_ + ":" + password_);
  if (scheme_ != Scheme::Digest || !quotable(user_) || !quotable(uri)) return {};
  const std::string ha1 = digestHex(algorithm_, user_ + ":" + realm_ + ":" + password_);
  const std::string ha2 = digestHex(algorithm_, method + ":" + uri);
  std::string text = "Digest username=" + quoted(user_) + ", realm=" + quoted(realm_) + ", nonce=" + quoted(nonce_) +
                     ", uri=" + quoted(uri) + ", response=\"";
  if (qopAuth_) {
    char count[9];
    std::snprintf(count, sizeof count, "%08x", ++nonceCount_);
    text += digestHex(algorithm_, ha1 + ":" + nonce_ + ":" + count + ":" + clientNonce_ + ":auth:" + ha2) +
            "\", qop=auth, nc=" + count + ", cnonce=\"" + clientNonce_ + "\"";
  } else {
    text += digestHex(algorithm_, ha1 + ":" + nonce_ + ":" + ha2) + "\"";
  }
  if (!opaque_.empty()) text += ", opaque=" + quoted(opaque_);
  return text + ", algorithm=" + algorithm_;
}

namespace {

// The cameras that asked for Digest. Bounded: a process that met more cameras starts over (each
// then answers one more challenge).
class CameraChallenges {
 public:
  static CameraChallenges& instance() {
    static CameraChallenges* challenges = new CameraChallenges;  // never destroyed: used at exit
    return *challenges;
  }

  // The Digest header when the camera asked for Digest; "" otherwise.
  std::string digestHeader(const asio::ConnectionInfo& info, const std::string& method, const std::string& uri) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = cameras_.find(key(info));
    if (found == cameras_.end() || found->second.password() != info.password) return {};
    return found->second.header(method, uri);
  }

  bool accept(const asio::ConnectionInfo& info, const std::vector<Challenge>& challenges) {
    DigestAuthorization fresh(info.user, info.password);
    if (!fresh.accept(challenges) || !fresh.usesDigest()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string name = key(info);
    const auto found = cameras_.find(name);
    // Requests sent side by side meet the same challenge: its nonce count goes on.
    if (found != cameras_.end() && found->second.password() == info.password && found->second.nonce() == fresh.nonce())
      return true;
    if (cameras_.size() >= kMaxCameras && found == cameras_.end()) cameras_.clear();
    cameras_.insert_or_assign(name, std::move(fresh));
    return true;
  }

  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    cameras_.clear();
  }

 private:
  static constexpr size_t kMaxCameras = 4096;
  static std::string key(const asio::ConnectionInfo& info) {
    return info.scheme + "://" + info.user + "@" + info.hostAndPort();
  }

  std::mutex mutex_;
  std::unordered_map<std::string, DigestAuthorization> cameras_;
};

}  // namespace

std::string cameraAuthorization(const asio::ConnectionInfo& info, const std::string& method, const std::string& uri) {
  if (info.user.empty()) return {};
  if (info.auth != "basic") {
    std::string digest = CameraChallenges::instance().digestHeader(info, method, uri);
    if (!digest.empty() || info.auth == "digest") return digest;
  }
  return "Basic " + Utility::base64Encode(info.user + ":" + info.password);
}

bool acceptCameraChallenges(const asio::ConnectionInfo& info, const HttpHeaders& answerHeaders) {
  if (info.user.empty() || info.auth == "basic") return false;
  return CameraChallenges::instance().accept(info, challengesOf(answerHeaders));
}

void forgetCameraChallenges() { CameraChallenges::instance().clear(); }

}  // namespace http
}  // namespace Talvo
