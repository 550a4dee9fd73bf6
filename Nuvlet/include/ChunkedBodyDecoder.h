// Decoding of chunked answer bodies as their bytes arrive. Declarations only; implemented in
// libNuvlet.
#pragma once

#include <cstddef>
#include <string>

#include "host/Nuvlet/HttpMessage.h"

namespace Talvo {
namespace http {
namespace detail {

// Strict: hexadecimal sizes, CRLF after every line and every chunk; a size line or a trailer
// line longer than kMaxLineSize, or more than kMaxTrailerLines trailer lines, is malformed.
// A chunk size that would take the body beyond its cap is refused before its data arrives.
class ChunkedBodyDecoder {
 public:
  enum class Result { NeedMore, Done, Malformed, TooLarge };
  static constexpr size_t kMaxLineSize = 4096;
  static constexpr size_t kMaxTrailerLines = 100;

  // Takes bytes from [data, data + size) (`used` tells how many) and appends the chunk data to
  // `body`, which may not grow beyond `maxBody`. Bytes after the last chunk stay unused.
  // Precondition: body.size() <= maxBody, and after Done, Malformed or TooLarge no further call.
  Result feed(const char* data, size_t size, size_t& used, Body& body, size_t maxBody);

 private:
  enum class State { SizeLine, Data, DataEnd, Trailer, Done };
  Result takeLine(const char* data, size_t size, size_t& used, bool& complete);
  Result endSizeLine(const Body& body, size_t maxBody);
  Result endTrailerLine();

  State state_ = State::SizeLine;
  size_t chunkLeft_ = 0;
  size_t trailerLines_ = 0;
  std::string line_;
};

}  // namespace detail
}  // namespace http
}  // namespace Talvo
