// What a camera request sends and what its answer holds: request, answer head, body, and the
// caps every answer is read under. Declarations only; implemented in libNuvlet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Talvo {
namespace http {

// Answer bodies larger than this end the request with error 264; heads larger than this with 256.
constexpr size_t kMaxBodySize = 16u * 1024 * 1024;
constexpr size_t kMaxHeadSize = 64u * 1024;

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using HttpHeaders = std::multimap<std::string, std::string, CaseInsensitiveLess>;

struct HttpResponse {
  int status = 0;          // 0 when no status line was read
  std::string statusText;  // "OK", "Not Found", ...
  std::string version;     // "HTTP/1.1"
  HttpHeaders headers;
  // The first value of header `name`, or "" (and `found` false).
  std::string header(const std::string& name, bool* found = nullptr) const;
  bool isSuccess() const { return (status >= 200 && status <= 299) || status == 302; }
};

struct HttpRequest {
  std::string method = "GET";
  std::string target;  // "/control/control?read&section=x"
  HttpHeaders headers;
  std::string body;
};

using Body = std::vector<uint8_t>;

}  // namespace http
}  // namespace Talvo
