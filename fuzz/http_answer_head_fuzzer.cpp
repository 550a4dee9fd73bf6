// A camera's answer head: the status line, the header lines and the body framing they imply.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Nuvlet/include/HttpAnswerHead.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  const char* end = begin + size;
  const size_t headSize = Talvo::http::detail::headEnd(begin, end);
  if (headSize > size) std::abort();
  Talvo::http::HttpResponse response;
  const size_t line = Talvo::http::parseStatusLine(begin, end, response);
  if (line > size) std::abort();
  if (line == 0) return 0;
  const size_t headers = Talvo::http::parseHeaders(begin + line, end, response.headers);
  if (headers > size - line) std::abort();
  if (headers == 0) return 0;
  Talvo::http::detail::BodyFraming framing;
  size_t length = 0;
  const auto error = Talvo::http::detail::bodyFraming(response, 1u << 20, framing, length);
  if (!error && framing == Talvo::http::detail::BodyFraming::ContentLength && length > (1u << 20)) std::abort();
  return 0;
}
