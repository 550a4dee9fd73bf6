// Reading what an RTSP server says: an answer (status line, headers, body) at the front of the
// bytes received and its Session header (its challenges: HttpDigest.h). Pure functions over
// bytes already received, any thread; the RTSP client (host/Nuvlet/RTSPClient.h) calls them.
// Declarations only; implemented in libNuvlet.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "host/Nuvlet/HttpMessage.h"

namespace Talvo {
namespace rtsp {

// A server's answer head larger than this, or a body larger than kMaxAnswerBody, ends the session.
constexpr size_t kMaxAnswerHead = 16 * 1024;
constexpr size_t kMaxAnswerBody = 64 * 1024;

struct RtspAnswer {
  int status = 0;
  std::string reason;
  http::HttpHeaders headers;
  std::string body;
  // The first value of header `name`, or "".
  std::string header(const std::string& name) const;
};

enum class AnswerParse {
  NeedMore,  // the answer is not complete yet (and within the caps)
  Done,      // `answer` holds it; `consumed` bytes belong to it
  Bad,       // not an RTSP answer
  TooLarge   // head or body beyond the caps
};

// Parses the answer at the start of [begin, end): "RTSP/1.0 200 OK\r\n", header lines, the
// empty line and Content-Length bytes of body.
AnswerParse parseAnswer(const char* begin, const char* end, RtspAnswer& answer, size_t& consumed);

// "Session: 12345678;timeout=60": the id and the time-out in seconds (60 when not given or
// unreadable). False when there is no id.
struct SessionHeader {
  std::string id;
  int timeoutSeconds = 60;
};
bool parseSessionHeader(const std::string& value, SessionHeader& session);

}  // namespace rtsp
}  // namespace Talvo
