// The library's own error category and the mapping of errors to the host's result codes.
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/ResultText.h"

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
      case error::certificate_mismatch:
        return "certificate is not the pinned one";
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

namespace {

struct CodeText {
  int code;
  const char* text;
};

// Codes the module sets itself, and the library's own category.
constexpr CodeText kModuleCodes[] = {
    {1, "unexpected error"},
    {4, "bad parameter, or a request that cannot be built"},
    {6, "argument outside the model's limits"},
    {8, "operation not supported"},
    {9, "seek during play"},
    {10, "connection failure (unreadable connection text or failed write)"},
    {12, "already stopped or terminated"},
    {error::bad_response, "unparseable answer from the camera"},
    {error::no_socket, "no open socket"},
    {error::response_too_large, "answer larger than the limit"},
    {error::bad_request, "request could not be built"},
    {error::certificate_mismatch, "the camera's certificate is not the one its tls_fingerprint pins"},
    {769, "a header that autodetect needs is missing"},
};

// The HTTP statuses a camera answers with, and what they mean to a person.
constexpr CodeText kHttpStatuses[] = {
    {301, "moved permanently"}, {302, "found"}, {400, "bad request"},
    {401, "wrong user name or password"}, {403, "forbidden"}, {404, "not found"},
    {405, "method not allowed"}, {408, "request timeout"}, {413, "request too large"},
    {429, "too many requests"}, {500, "internal server error"}, {501, "not implemented"},
    {502, "bad gateway"}, {503, "service unavailable"}, {504, "gateway timeout"},
};

// errno values as the library maps network errors (the resolver's failures become EHOSTUNREACH).
constexpr CodeText kSystemErrors[] = {
    {ECONNREFUSED, "connection refused"},
    {EHOSTUNREACH, "host not found"},
    {ENETUNREACH, "network unreachable"},
    {ETIMEDOUT, "timed out"},
    {ECONNRESET, "connection closed by the camera"},
    {ECANCELED, "cancelled"},
    {EPROTO, "TLS error"},
    {ENOENT, "not found in the answer"},
    {EINVAL, "invalid argument"},
};

template <std::size_t N>
const char* findText(const CodeText (&table)[N], int code) {
  for (const CodeText& entry : table)
    if (entry.code == code) return entry.text;
  return nullptr;
}

}  // namespace

std::string describeResultCode(int code) {
  if (code == 0) return "success";
  if (const char* text = findText(kModuleCodes, code)) return text;
  // Errors never carry an informational or success status, and errno values stay below 300.
  if (code >= 300 && code <= 599) {
    const char* text = findText(kHttpStatuses, code);
    return "HTTP " + std::to_string(code) + (text ? std::string(" ") + text : std::string());
  }
  if (const char* text = findText(kSystemErrors, code)) return text;
  if (const char* text = strerrordesc_np(code)) return text;  // other errno values (thread-safe, unlike strerror)
  return "error " + std::to_string(code);
}

}  // namespace Utility
}  // namespace Talvo
