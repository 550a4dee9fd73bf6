// A chunked answer body fed in pieces: the decoder never reads past what it was given and never
// lets the body pass its cap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Nuvlet/include/ChunkedBodyDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  constexpr size_t kMaxBody = 4096;
  Talvo::http::detail::ChunkedBodyDecoder decoder;
  Talvo::http::Body body;
  const size_t piece = 1 + data[0] % 32;
  using Result = Talvo::http::detail::ChunkedBodyDecoder::Result;
  for (size_t at = 1; at < size;) {
    const size_t n = std::min(piece, size - at);
    size_t used = 0;
    const Result result = decoder.feed(reinterpret_cast<const char*>(data + at), n, used, body, kMaxBody);
    if (used > n || body.size() > kMaxBody) std::abort();
    if (result != Result::NeedMore) return 0;
    if (used != n) std::abort();  // a decoder that needs more has taken all it was given
    at += n;
  }
  return 0;
}
