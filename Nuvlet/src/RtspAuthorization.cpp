// RTSP authorisation: Basic and Digest (MD5).
#include "Nuvlet/include/RtspAuthorization.h"

#include <algorithm>
#include <cstdio>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include "host/Nuvlet/Base64.h"

namespace Talvo {
namespace rtsp {

namespace {

std::string hex(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

std::string randomNonce() {
  unsigned char bytes[8] = {};
  if (RAND_bytes(bytes, sizeof bytes) != 1) return "0a4f113b5e6c7d8e";
  return hex(bytes, sizeof bytes);
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

const Challenge* findScheme(const std::vector<Challenge>& challenges, const std::string& scheme) {
  for (const Challenge& challenge : challenges) {
    if (challenge.scheme != scheme) continue;
    if (scheme == "digest") {
      const auto algorithm = challenge.params.find("algorithm");
      if (algorithm != challenge.params.end() && algorithm->second != "MD5" && algorithm->second != "md5") continue;
      if (challenge.params.count("nonce") == 0) continue;
    }
    return &challenge;
  }
  return nullptr;
}

std::string param(const Challenge& challenge, const std::string& name) {
  const auto found = challenge.params.find(name);
  return found == challenge.params.end() ? std::string() : found->second;
}

}  // namespace

std::string md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
  return hex(digest, size);
}

bool RtspAuthorization::accept(const std::vector<Challenge>& challenges) {
  if (const Challenge* digest = findScheme(challenges, "digest")) {
    scheme_ = Scheme::Digest;
    realm_ = param(*digest, "realm");
    nonce_ = param(*digest, "nonce");
    opaque_ = param(*digest, "opaque");
    qopAuth_ = offersAuth(param(*digest, "qop"));
    nonceCount_ = 0;
    if (clientNonce_.empty()) clientNonce_ = randomNonce();
    return true;
  }
  if (findScheme(challenges, "basic")) {
    scheme_ = Scheme::Basic;
    return true;
  }
  return false;
}

std::string RtspAuthorization::header(const std::string& method, const std::string& uri) {
  if (scheme_ == Scheme::Basic) return "Basic " + Utility::base64Encode(user_ + ":" + password_);
  if (scheme_ != Scheme::Digest) return {};
  const std::string ha1 = md5Hex(user_ + ":" + realm_ + ":" + password_);
  const std::string ha2 = md5Hex(method + ":" + uri);
  std::string text = "Digest username=\"" + user_ + "\", realm=\"" + realm_ + "\", nonce=\"" + nonce_ + "\", uri=\"" +
                     uri + "\", response=\"";
  if (qopAuth_) {
    char count[9];
    std::snprintf(count, sizeof count, "%08x", ++nonceCount_);
    text += md5Hex(ha1 + ":" + nonce_ + ":" + count + ":" + clientNonce_ + ":auth:" + ha2) +
            "\", qop=auth, nc=" + count + ", cnonce=\"" + clientNonce_ + "\"";
  } else {
    text += md5Hex(ha1 + ":" + nonce_ + ":" + ha2) + "\"";
  }
  if (!opaque_.empty()) text += ", opaque=\"" + opaque_ + "\"";
  return text + ", algorithm=MD5";
}

}  // namespace rtsp
}  // namespace Talvo
