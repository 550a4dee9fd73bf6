// A camera's WWW-Authenticate values: parsed into challenges and answered as the camera asks
// (Digest with MD5 or SHA-256, or Basic), every byte of the value from the camera.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Nuvlet/include/HttpDigest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Talvo::http::HttpHeaders headers;
  size_t at = 0;
  while (at <= text.size()) {  // one header line per '\n'
    const size_t stop = std::min(text.find('\n', at), text.size());
    headers.emplace("WWW-Authenticate", text.substr(at, stop - at));
    at = stop + 1;
  }
  const auto challenges = Talvo::http::challengesOf(headers);
  for (const auto& challenge : challenges)
    if (challenge.params.size() > Talvo::http::kMaxChallengeParams) std::abort();
  Talvo::http::DigestAuthorization auth("user", "password");
  auth.setClientNonce("00000000");
  if (auth.accept(challenges) && auth.header("GET", "/control/control?list").empty()) std::abort();
  return 0;
}
