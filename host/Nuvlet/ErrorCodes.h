// The library's error codes: its own category ("talvo") and the mapping of any error to the
// host's result codes. Declarations only; implemented in libNuvlet.
#pragma once

#include <boost/system/error_code.hpp>

namespace Talvo {

namespace Utility {
// Maps a system or library error to the host's result code: 0 for success, the HTTP status for
// http_category errors, the library code for its own category, the errno value for system
// errors (a cancelled operation gives ECANCELED, 125). Asio's own categories: end of stream
// gives ECONNRESET (104), an unknown host name EHOSTUNREACH (113), a truncated TLS stream
// ECONNRESET, other TLS errors EPROTO (71). Never 0 for an error: unknown ones give 1.
int translateSystemError(const boost::system::error_code& error);
}  // namespace Utility

// The library's own error category ("talvo"): 256 unparseable answer, 263 no open socket,
// 264 answer larger than the cap, 265 request could not be built, 266 the camera's TLS
// certificate is not the one its connection text pins.
const boost::system::error_category& get_talvo_category();

namespace error {
enum TalvoError {
  bad_response = 256,
  no_socket = 263,
  response_too_large = 264,
  bad_request = 265,
  certificate_mismatch = 266,
};
boost::system::error_code make_error_code(TalvoError e);
}  // namespace error

}  // namespace Talvo

// Lets `ec == Talvo::error::bad_response` compare with the library's category.
namespace boost {
namespace system {
template <>
struct is_error_code_enum<Talvo::error::TalvoError> {
  static const bool value = true;
};
}  // namespace system
}  // namespace boost
