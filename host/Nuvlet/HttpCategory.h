// Answer statuses as errors: the "http" error category and the host's code of an answer.
// Declarations only; implemented in libNuvlet.
#pragma once

#include <boost/system/error_code.hpp>

#include "HttpMessage.h"

namespace Talvo {
namespace http {

// Errors carrying an HTTP status as their value.
const boost::system::error_category& http_category();
// 0 for a successful status (200-299, 302); 10 (connection failure) when no status was read;
// else the status number.
int translateResponseError(const HttpResponse& response);

}  // namespace http
}  // namespace Talvo
