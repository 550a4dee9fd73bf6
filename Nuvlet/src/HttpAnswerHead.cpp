// The status line and header lines of an answer, and the framing of its body.
#include "Nuvlet/include/HttpAnswerHead.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>

#include "HttpCharacters.h"
#include "host/Nuvlet/ErrorCodes.h"

namespace Talvo {
namespace http {

namespace {

using characters::isDigit;
using characters::isTextChar;
using characters::isTokenChar;

// Position of the "\r\n" ending the line that starts at `begin`, or null.
const char* findLineEnd(const char* begin, const char* end) {
  for (const char* p = begin; p + 1 < end; ++p)
    if (p[0] == '\r' && p[1] == '\n') return p;
  return nullptr;
}

}  // namespace

size_t parseStatusLine(const char* begin, const char* end, HttpResponse& response) {
  const char* lineEnd = findLineEnd(begin, end);
  if (lineEnd == nullptr) return 0;
  const size_t length = static_cast<size_t>(lineEnd - begin);
  // "HTTP/d.d ddd" is 12 characters; then nothing, or a blank and the reason phrase.
  if (length < 12 || std::memcmp(begin, "HTTP/", 5) != 0 || !isDigit(begin[5]) || begin[6] != '.' ||
      !isDigit(begin[7]) || begin[8] != ' ' || !isDigit(begin[9]) || !isDigit(begin[10]) || !isDigit(begin[11]))
    return 0;
  if (begin[9] == '0') return 0;
  if (length > 12 && begin[12] != ' ') return 0;
  const char* text = begin + std::min<size_t>(length, 13);
  if (!std::all_of(text, lineEnd, isTextChar)) return 0;
  response.version.assign(begin, 8);
  response.status = (begin[9] - '0') * 100 + (begin[10] - '0') * 10 + (begin[11] - '0');
  response.statusText.assign(text, lineEnd);
  return length + 2;
}

size_t parseHeaders(const char* begin, const char* end, HttpHeaders& headers) {
  HttpHeaders parsed;
  const char* line = begin;
  while (true) {
    const char* lineEnd = findLineEnd(line, end);
    if (lineEnd == nullptr) return 0;
    if (lineEnd == line) break;  // the empty line ends the block
    if (parsed.size() >= kMaxHeaderLines) return 0;
    const char* colon = std::find(line, lineEnd, ':');
    // No name, a blank before the colon or a continuation line (obs-fold): malformed.
    if (colon == lineEnd || colon == line || !std::all_of(line, colon, isTokenChar)) return 0;
    if (!std::all_of(colon + 1, lineEnd, isTextChar)) return 0;
    std::string value(colon + 1, lineEnd);
    boost::algorithm::trim_if(value, [](char c) { return c == ' ' || c == '\t'; });
    parsed.emplace(std::string(line, colon), std::move(value));
    line = lineEnd + 2;
  }
  for (auto& header : parsed) headers.insert(std::move(header));
  return static_cast<size_t>(line + 2 - begin);
}

namespace detail {

size_t headEnd(const char* begin, const char* end) {
  static const char kEnd[] = "\r\n\r\n";
  const char* found = std::search(begin, end, kEnd, kEnd + 4);
  return found == end ? 0 : static_cast<size_t>(found + 4 - begin);
}

boost::system::error_code bodyFraming(const HttpResponse& response, size_t maxBody, BodyFraming& framing,
                                      size_t& length) {
  framing = BodyFraming::None;
  length = 0;
  const int status = response.status;
  if ((status >= 100 && status <= 199) || status == 204 || status == 304) return {};

  bool hasEncoding = false;
  std::string encoding = response.header("Transfer-Encoding", &hasEncoding);
  if (hasEncoding) {
    // Chunked only when it is the last coding; anything else ends with the connection.
    boost::algorithm::trim(encoding);
    const size_t comma = encoding.rfind(',');
    std::string last = comma == std::string::npos ? encoding : encoding.substr(comma + 1);
    boost::algorithm::trim(last);
    framing = boost::algorithm::iequals(last, "chunked") ? BodyFraming::Chunked : BodyFraming::UntilClose;
    return {};
  }

  const auto lengths = response.headers.equal_range("Content-Length");
  if (lengths.first == lengths.second) {
    framing = BodyFraming::UntilClose;
    return {};
  }
  const std::string& first = lengths.first->second;
  for (auto it = lengths.first; it != lengths.second; ++it)
    if (it->second != first) return error::make_error_code(error::bad_response);  // contradictory lengths
  if (first.empty() || first.size() > 18 || !std::all_of(first.begin(), first.end(), isDigit))
    return error::make_error_code(error::bad_response);
  const unsigned long long value = std::strtoull(first.c_str(), nullptr, 10);
  if (value > maxBody) return error::make_error_code(error::response_too_large);
  framing = BodyFraming::ContentLength;
  length = static_cast<size_t>(value);
  return {};
}

}  // namespace detail
}  // namespace http
}  // namespace Talvo
