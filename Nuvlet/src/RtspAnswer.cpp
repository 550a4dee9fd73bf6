// RTSP answers: the status line here, the header lines with the HTTP answer reader.
#include "Nuvlet/include/RtspAnswer.h"

#include <algorithm>
#include <cstring>

#include "HttpCharacters.h"
#include "Nuvlet/include/HttpAnswerHead.h"

namespace Talvo {
namespace rtsp {

namespace {

using http::characters::isDigit;
using http::characters::lowerAscii;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), lowerAscii);
  return text;
}

// "RTSP/1.0 200 OK\r\n": the bytes used, 0 when malformed.
size_t parseStatusLine(const char* begin, const char* end, RtspAnswer& answer) {
  const char* lineEnd = std::search(begin, end, "\r\n", "\r\n" + 2);
  if (lineEnd == end) return 0;
  const size_t length = static_cast<size_t>(lineEnd - begin);
  if (length < 12 || std::memcmp(begin, "RTSP/1.", 7) != 0 || begin[8] != ' ' || !isDigit(begin[9]) ||
      !isDigit(begin[10]) || !isDigit(begin[11]) || begin[9] == '0')
    return 0;
  if (length > 12 && begin[12] != ' ') return 0;
  answer.status = (begin[9] - '0') * 100 + (begin[10] - '0') * 10 + (begin[11] - '0');
  answer.reason.assign(begin + std::min<size_t>(length, 13), lineEnd);
  return length + 2;
}

// Content-Length as a number not above the body cap; -1 when unreadable, -2 when too large.
long contentLength(const RtspAnswer& answer) {
  bool found = false;
  for (const auto& header : answer.headers)
    if (lower(header.first) == "content-length") found = true;
  if (!found) return 0;
  const std::string text = answer.header("Content-Length");
  if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), isDigit)) return -1;
  const long value = std::stol(text);
  return value > static_cast<long>(kMaxAnswerBody) ? -2 : value;
}

}  // namespace

std::string RtspAnswer::header(const std::string& name) const {
  const auto found = headers.find(name);
  return found == headers.end() ? std::string() : found->second;
}

AnswerParse parseAnswer(const char* begin, const char* end, RtspAnswer& answer, size_t& consumed) {
  const size_t available = static_cast<size_t>(end - begin);
  const size_t headSize = http::detail::headEnd(begin, std::min(end, begin + kMaxAnswerHead));
  if (headSize == 0) return available >= kMaxAnswerHead ? AnswerParse::TooLarge : AnswerParse::NeedMore;
  RtspAnswer parsed;
  const size_t line = parseStatusLine(begin, begin + headSize, parsed);
  if (line == 0) return AnswerParse::Bad;
  if (http::parseHeaders(begin + line, begin + headSize, parsed.headers) != headSize - line) return AnswerParse::Bad;
  const long length = contentLength(parsed);
  if (length == -1) return AnswerParse::Bad;
  if (length == -2) return AnswerParse::TooLarge;
  if (available - headSize < static_cast<size_t>(length)) return AnswerParse::NeedMore;
  parsed.body.assign(begin + headSize, static_cast<size_t>(length));
  consumed = headSize + static_cast<size_t>(length);
  answer = std::move(parsed);
  return AnswerParse::Done;
}

bool parseSessionHeader(const std::string& value, SessionHeader& session) {
  const size_t semicolon = value.find(';');
  std::string id = value.substr(0, semicolon);
  while (!id.empty() && (id.back() == ' ' || id.back() == '\t')) id.pop_back();
  if (id.empty()) return false;
  session.id = id;
  session.timeoutSeconds = 60;
  const size_t timeout = lower(value).find("timeout=", semicolon == std::string::npos ? value.size() : semicolon);
  if (timeout != std::string::npos) {
    const size_t digits = timeout + 8;
    size_t stop = digits;
    while (stop < value.size() && isDigit(value[stop]) && stop - digits < 6) ++stop;
    if (stop > digits) session.timeoutSeconds = std::max(1, std::stoi(value.substr(digits, stop - digits)));
  }
  return true;
}

}  // namespace rtsp
}  // namespace Talvo
