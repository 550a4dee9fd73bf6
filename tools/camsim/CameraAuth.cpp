#include "CameraAuth.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "host/Nuvlet/Base64.h"

namespace camsim {
namespace {

constexpr const char* kRealm = "Vantrel";
constexpr size_t kKeptNonces = 256;

std::string hex(const unsigned char* bytes, size_t size) {
  std::string text;
  char digits[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    text += digits;
  }
  return text;
}

std::string hashHex(const EVP_MD* md, const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, md, nullptr);
  return hex(digest, size);
}

// The name="value" and name=value items of a Digest Authorization header.
std::map<std::string, std::string> digestItems(const std::string& header) {
  std::map<std::string, std::string> items;
  size_t at = header.find(' ');
  while (at != std::string::npos && at < header.size()) {
    while (at < header.size() && (header[at] == ' ' || header[at] == ',')) ++at;
    const size_t equals = header.find('=', at);
    if (equals == std::string::npos) break;
    std::string name = header.substr(at, equals - at);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    at = equals + 1;
    std::string value;
    if (at < header.size() && header[at] == '"') {
      const size_t close = header.find('"', at + 1);
      if (close == std::string::npos) break;
      value = header.substr(at + 1, close - at - 1);
      at = close + 1;
    } else {
      const size_t comma = std::min(header.find(',', at), header.size());
      value = header.substr(at, comma - at);
      at = comma;
    }
    items[name] = value;
  }
  return items;
}

}  // namespace

CameraAuth::CameraAuth(const std::string& user, const std::string& password, AuthMode mode)
    : user_(user), password_(password), mode_(mode) {}

CameraAuth::Verdict CameraAuth::check(const std::string& method, const std::string& target,
                                      const std::string& header) {
  (void)target;  // the uri the client signed is its own business; the response covers it
  const bool basic = header.rfind("Basic ", 0) == 0;
  const bool digest = header.rfind("Digest ", 0) == 0;
  const char* scheme = basic ? "basic" : digest ? "digest" : "none";
  if (!enabled()) return {true, scheme};
  if (basic) return {mode_ != AuthMode::Digest && basicAccepted(header), scheme};
  if (digest) return {mode_ != AuthMode::Basic && digestAccepted(method, header), scheme};
  return {false, scheme};
}

bool CameraAuth::basicAccepted(const std::string& header) const {
  return header == "Basic " + Talvo::Utility::base64Encode(user_ + ":" + password_);
}

bool CameraAuth::digestAccepted(const std::string& method, const std::string& header) {
  auto items = digestItems(header);
  const std::string algorithm = items.count("algorithm") ? items["algorithm"] : "MD5";
  const EVP_MD* md = algorithm == "SHA-256" ? EVP_sha256() : algorithm == "MD5" ? EVP_md5() : nullptr;
  if (!md || items["username"] != user_ || items["realm"] != kRealm || items["qop"] != "auth") return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(nonces_.begin(), nonces_.end(), items["nonce"]) == nonces_.end()) return false;
  }
  const std::string ha1 = hashHex(md, user_ + ":" + kRealm + ":" + password_);
  const std::string ha2 = hashHex(md, method + ":" + items["uri"]);
  const std::string expected =
      hashHex(md, ha1 + ":" + items["nonce"] + ":" + items["nc"] + ":" + items["cnonce"] + ":auth:" + ha2);
  return items["response"] == expected;
}

std::vector<std::string> CameraAuth::challenges() {
  std::vector<std::string> values;
  if (mode_ != AuthMode::Basic) {
    unsigned char random[16];
    RAND_bytes(random, sizeof random);
    std::string nonce;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      nonce = hex(random, sizeof random) + std::to_string(nextNonce_++);
      nonces_.push_back(nonce);
      if (nonces_.size() > kKeptNonces) nonces_.pop_front();
    }
    for (const char* algorithm : {"SHA-256", "MD5"})
      values.push_back(std::string("Digest realm=\"") + kRealm + "\", qop=\"auth\", algorithm=" + algorithm +
                       ", nonce=\"" + nonce + "\"");
  }
  if (mode_ != AuthMode::Digest) values.push_back(std::string("Basic realm=\"") + kRealm + "\"");
  return values;
}

bool parseAuthMode(const std::string& text, AuthMode& mode) {
  if (text == "basic") mode = AuthMode::Basic;
  else if (text == "digest") mode = AuthMode::Digest;
  else if (text == "both") mode = AuthMode::Both;
  else return false;
  return true;
}

}  // namespace camsim
