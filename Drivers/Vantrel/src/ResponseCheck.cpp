#include "ResponseCheck.h"

#include "host/Nuvlet/ErrorCodes.h"

namespace Vantrel {

namespace {

// The check is the device's: its lines name the device's source, by which hosts filter the
// device's log (the line numbers are this file's).
const char kLogFile[] = "Drivers/Vantrel/src/Device.cpp";

bool checkResponse(const boost::system::error_code& error, bool bodyEmpty, const Talvo::http::HttpResponse& response,
                   const Talvo::LoggerOwner& logger, const std::string& requestName, const char* function) {
  if (error) {
    if (logger.isLevelEnabled(3))
      logger.log(3, kLogFile, __LINE__, function,
                 " HTTP request is finished with error: " + error.message() + ", request: " + requestName);
    return Talvo::Utility::translateSystemError(error) == 0;
  }
  if (!response.isSuccess()) {
    if (logger.isLevelEnabled(3))
      logger.log(3, kLogFile, __LINE__, function,
                 " HTTP response has error: " + response.statusText + ", request: " + requestName);
    return Talvo::http::translateResponseError(response) == 0;
  }
  if (bodyEmpty) {
    if (logger.isLevelEnabled(3))
      logger.log(3, kLogFile, __LINE__, function, " HTTP responce is empty, request: " + requestName);
    return false;
  }
  return true;
}

}  // namespace

bool isDeviceResponseOk(const boost::system::error_code& error, const std::string& body,
                        const Talvo::http::HttpResponse& response, const Talvo::LoggerOwner& logger,
                        const std::string& requestName, const char* function) {
  return checkResponse(error, body.empty(), response, logger, requestName, function);
}

bool isDeviceResponseOk(const boost::system::error_code& error, const Talvo::http::Body& body,
                        const Talvo::http::HttpResponse& response, const Talvo::LoggerOwner& logger,
                        const std::string& requestName, const char* function) {
  return checkResponse(error, body.empty(), response, logger, requestName, function);
}

}  // namespace Vantrel
