// Reading an answer's head: the status line, the header lines, and what the head says about
// the body's framing. Pure functions over bytes already received; the request steps in
// AsyncHttp.h call them. Declarations only; implemented in libNuvlet.
#pragma once

#include <cstddef>

#include <boost/system/error_code.hpp>

#include "host/Nuvlet/HttpMessage.h"

namespace Talvo {
namespace http {

// Parses "HTTP/1.1 200 OK\r\n" at the start of [begin, end). Returns the bytes used, 0 when the
// line is malformed or incomplete.
size_t parseStatusLine(const char* begin, const char* end, HttpResponse& response);
// At most this many header lines; more make the head malformed.
constexpr size_t kMaxHeaderLines = 100;
// Parses header lines up to and including the empty line. Returns the bytes used, 0 when a line
// is malformed or the block is incomplete (then `headers` is unchanged).
size_t parseHeaders(const char* begin, const char* end, HttpHeaders& headers);

namespace detail {

// Position just after the first "\r\n\r\n" in [begin, end), or 0 when there is none.
size_t headEnd(const char* begin, const char* end);

// How the body of `response` ends, as the head tells it.
enum class BodyFraming { None, ContentLength, Chunked, UntilClose };
// Decides the framing; `length` gets a Content-Length. Precondition: `response` holds a parsed
// head (its status decides whether a body follows at all). bad_response for an unreadable or
// contradictory Content-Length, response_too_large when it exceeds `maxBody`.
boost::system::error_code bodyFraming(const HttpResponse& response, size_t maxBody, BodyFraming& framing,
                                      size_t& length);

}  // namespace detail
}  // namespace http
}  // namespace Talvo
