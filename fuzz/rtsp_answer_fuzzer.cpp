// An RTSP server's answer: status line, headers, body within the caps, Session header and
// authentication challenges, and the Digest answer built from them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Nuvlet/include/RtspAnswer.h"
#include "Nuvlet/include/HttpDigest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  Talvo::rtsp::RtspAnswer answer;
  size_t consumed = 0;
  if (Talvo::rtsp::parseAnswer(begin, begin + size, answer, consumed) != Talvo::rtsp::AnswerParse::Done) return 0;
  if (consumed > size || answer.body.size() > Talvo::rtsp::kMaxAnswerBody) std::abort();
  Talvo::rtsp::SessionHeader session;
  if (Talvo::rtsp::parseSessionHeader(answer.header("Session"), session) && session.timeoutSeconds < 1) std::abort();
  Talvo::http::DigestAuthorization auth("user", "password");
  auth.setClientNonce("00000000");
  if (auth.accept(Talvo::http::challengesOf(answer.headers)) && auth.header("DESCRIBE", "rtsp://h/v").empty()) std::abort();
  return 0;
}
