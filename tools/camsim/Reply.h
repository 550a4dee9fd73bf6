// An answer decided by a handler, before the session turns it into HTTP.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace camsim {

struct Reply {
  int status = 200;
  std::string contentType = "text/plain";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // extra header lines

  static Reply text(int status, std::string body) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
  }
  static Reply ok() { return text(200, "OK\r\n"); }
  static Reply notFound() { return text(404, "Not Found\r\n"); }
};

}  // namespace camsim
