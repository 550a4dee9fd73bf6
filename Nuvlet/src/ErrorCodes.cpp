// The library's own error category and the mapping of errors to the host's result codes.
#include "host/Nuvlet/ErrorCodes.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <boost/asio/error.hpp>

namespace Talvo {

namespace {

class TalvoCategory : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "talvo"; }
  std::string message(int value) const override {
    switch (value) {
      case error::bad_response:
        return "unparseable response";
      case error::no_socket:
        return "no open socket";
      case error::response_too_large:
        return "response larger than the limit";
      case error::bad_request:
        return "request could not be built";
      default:
        return "talvo error " + std::to_string(value);
    }
  }
};

bool hasCategoryName(const boost::system::error_code& error, const char* name) {
  return std::strcmp(error.category().name(), name) == 0;
}

// Errors of Asio's own categories, as errno values the host knows.
int translateAsioError(const boost::system::error_code& error) {
  namespace ae = boost::asio::error;
  if (error.category() == ae::get_misc_category()) {
    switch (error.value()) {
      case ae::eof:
        return ECONNRESET;  // the camera closed the connection early
      case ae::already_open:
        return EALREADY;
      case ae::not_found:
        return ENOENT;
      default:
        return 1;
    }
  }
  if (error.category() == ae::get_netdb_category()) return EHOSTUNREACH;  // the name does not resolve
  if (error.category() == ae::get_addrinfo_category()) return EINVAL;
  // TLS errors ("asio.ssl", "asio.ssl.stream"): a truncated stream is a reset, the rest a protocol error.
  if (hasCategoryName(error, "asio.ssl.stream")) return error.value() == 1 ? ECONNRESET : EPROTO;
  if (hasCategoryName(error, "asio.ssl")) return EPROTO;
  return 0;
}

}  // namespace

const boost::system::error_category& get_talvo_category() {
  static const TalvoCategory category;
  return category;
}

namespace error {
boost::system::error_code make_error_code(TalvoError e) {
  return boost::system::error_code(static_cast<int>(e), get_talvo_category());
}
}  // namespace error

namespace Utility {

int translateSystemError(const boost::system::error_code& error) {
  if (!error) return 0;
  // The HTTP category lives with the HTTP code; its name is enough to know it.
  if (hasCategoryName(error, "http")) return error.value() != 0 ? error.value() : 1;
  if (error.category() == get_talvo_category()) return error.value();
  if (error.category() == boost::system::system_category() || error.category() == boost::system::generic_category()) {
    if (error == boost::asio::error::operation_aborted) return ECANCELED;
    return error.value() > 0 ? error.value() : 1;
  }
  const int asio = translateAsioError(error);
  return asio != 0 ? asio : 1;
}

}  // namespace Utility
}  // namespace Talvo
