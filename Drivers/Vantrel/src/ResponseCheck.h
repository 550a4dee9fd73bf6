// The one check every channel applies to a finished camera request before it uses the answer:
// no transport error, a status of 200-299 or 302, and a body that is not empty. Each failure is
// logged at level 3 under `function`, naming the request.
#pragma once

#include <string>

#include <boost/system/error_code.hpp>

#include "host/Nuvlet/Http.h"
#include "host/Nuvlet/Logging.h"

namespace Vantrel {

bool isDeviceResponseOk(const boost::system::error_code& error, const std::string& body,
                        const Talvo::http::HttpResponse& response, const Talvo::LoggerOwner& logger,
                        const std::string& requestName, const char* function = "isDeviceResponseOk");
bool isDeviceResponseOk(const boost::system::error_code& error, const Talvo::http::Body& body,
                        const Talvo::http::HttpResponse& response, const Talvo::LoggerOwner& logger,
                        const std::string& requestName, const char* function = "isDeviceResponseOk");

}  // namespace Vantrel
