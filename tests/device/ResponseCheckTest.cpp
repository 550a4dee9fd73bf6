// The check every channel applies to a camera answer, and the line it logs for each failure.
#include <string>
#include <vector>

#include <boost/asio/error.hpp>
#include <gtest/gtest.h>

#include "CapturingLogger.h"
#include "ResponseCheck.h"

namespace {

Talvo::http::HttpResponse answer(int status, const char* text) {
  Talvo::http::HttpResponse response;
  response.status = status;
  response.statusText = text;
  return response;
}

TEST(ResponseCheck, OnlyAGoodStatusWithABodyPasses) {
  const boost::system::error_code refused = boost::asio::error::connection_refused;
  const struct {
    boost::system::error_code error;
    Talvo::http::HttpResponse response;
    std::string body;
    bool ok;
    std::string logged;  // "" for none
  } cases[] = {
      {{}, answer(200, "OK"), "camera=both", true, ""},
      {{}, answer(302, "Found"), "x", true, ""},
      {refused, answer(0, ""), "", false,
       " HTTP request is finished with error: " + refused.message() + ", request: Q"},
      {{},
       answer(500, "Internal Server Error"),
       "x",
       false,
       " HTTP response has error: Internal Server Error, request: Q"},
      {{}, answer(200, "OK"), "", false, " HTTP responce is empty, request: Q"},
  };
  for (const auto& c : cases) {
    for (bool asBytes : {false, true}) {
      CapturingLogger logger;
      const Talvo::LoggerOwner owner(&logger, "dev");
      const Talvo::http::Body bytes(c.body.begin(), c.body.end());
      const bool ok = asBytes ? Vantrel::isDeviceResponseOk(c.error, bytes, c.response, owner, "Q", "operator()")
                              : Vantrel::isDeviceResponseOk(c.error, c.body, c.response, owner, "Q", "operator()");
      EXPECT_EQ(ok, c.ok) << c.logged;
      const auto lines = logger.lines();
      ASSERT_EQ(lines.size(), c.logged.empty() ? 0u : 1u) << logger.dump();
      if (lines.empty()) continue;
      EXPECT_EQ(lines[0].message, "dev" + c.logged);
      EXPECT_EQ(lines[0].level, 3);
      EXPECT_EQ(lines[0].function, "operator()");
      EXPECT_EQ(lines[0].file, "Drivers/Vantrel/src/Device") << "the device's check";
    }
  }
}

}  // namespace
