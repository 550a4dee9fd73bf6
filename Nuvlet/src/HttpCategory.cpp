// The "http" error category: answer statuses as errors.
#include "host/Nuvlet/HttpCategory.h"

#include <string>

namespace Talvo {
namespace http {

namespace {

class HttpCategory : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "http"; }
  std::string message(int status) const override { return "HTTP status " + std::to_string(status); }
};

}  // namespace

const boost::system::error_category& http_category() {
  static const HttpCategory category;
  return category;
}

int translateResponseError(const HttpResponse& response) {
  if (response.isSuccess()) return 0;
  if (response.status == 0) return 10;
  return response.status;
}

}  // namespace http
}  // namespace Talvo
