// The check every channel applies to a camera answer, and the line it logs for each failure.
#include <string>

#include <boost/asio/error.hpp>
#include <gtest/gtest.h>

#include "CapturingLogger.h"
#include "ResponseCheck.h"

namespace {

TEST(ResponseCheck, OnlyAGoodStatusWithABodyPasses) {
  const boost::system::error_code refused = boost::asio::error::connection_refused;
  const struct {
    boost::system::error_code error;
    int status;
    std::string body;
    std::string logged;  // "" when the answer passes
  } cases[] = {
      {{}, 200, "camera=both", ""},
      {{}, 302, "x", ""},
      {refused, 0, "", " HTTP request is finished with error: " + refused.message() + ", request: Q"},
      {{}, 500, "x", " HTTP response has error: Status 500, request: Q"},
      {{}, 200, "", " HTTP responce is empty, request: Q"},
  };
  for (const auto& c : cases) {
    CapturingLogger logger;
    Talvo::http::HttpResponse response;
    response.status = c.status;
    response.statusText = "Status " + std::to_string(c.status);
    const Talvo::http::Body bytes(c.body.begin(), c.body.end());
    const Talvo::LoggerOwner owner(&logger, "dev");
    EXPECT_EQ(Vantrel::isDeviceResponseOk(c.error, bytes, response, owner, "Q", "operator()"), c.logged.empty());
    EXPECT_EQ(Vantrel::isDeviceResponseOk(c.error, c.body, response, owner, "Q"), c.logged.empty());
    const auto lines = logger.lines();
    ASSERT_EQ(lines.size(), c.logged.empty() ? 0u : 2u) << logger.dump();
    if (lines.empty()) continue;
    EXPECT_EQ(lines[0].message, "dev" + c.logged);
    EXPECT_EQ(lines[0].level, 3);
    EXPECT_EQ(lines[0].file, "Drivers/Vantrel/src/Device") << "the device's check";
    EXPECT_EQ(lines[0].function, "operator()");
    EXPECT_EQ(lines[1].function, "isDeviceResponseOk");
  }
}

}  // namespace
