// Time stamps, number texts and the mapping of library errors to the host's result codes.
#include "host/Nuvlet/Conversions.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <locale>
#include <sstream>
#include <stdexcept>

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

uint64_t timeStamp() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

std::string timestampToString(uint64_t milliseconds) {
  const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
  std::tm parts{};
  if (gmtime_r(&seconds, &parts) == nullptr) return "invalid time";
  char text[64];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(text + length, sizeof text - length, ".%03uZ", static_cast<unsigned>(milliseconds % 1000));
  return text;
}

double stringToDouble(const std::string& text) {
  std::istringstream stream(text);
  stream.imbue(std::locale::classic());
  double value = 0;
  stream >> std::skipws >> value;
  if (stream.fail()) throw std::invalid_argument("not a number: '" + text.substr(0, 32) + "'");
  stream >> std::ws;
  if (!stream.eof()) throw std::invalid_argument("not a number: '" + text.substr(0, 32) + "'");
  return value;
}

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
