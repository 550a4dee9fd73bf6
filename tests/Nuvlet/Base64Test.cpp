// Base64 of the utility library (also compiled into the simulator).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "host/Nuvlet/Base64.h"

namespace {

using namespace Talvo::Utility;

TEST(Base64, KnownVectorsRoundTrip) {
  // From RFC 4648, section 10, and bytes outside ASCII; OpenSSL does the work, these pin its use.
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {std::string("\0\xff\xfe", 3), "AP/+"},
      {"admin:p@ss:w", "YWRtaW46cEBzczp3"},
  };
  for (const auto& [bytes, text] : vectors) {
    SCOPED_TRACE(text);
    EXPECT_EQ(base64Encode(bytes), text);
    EXPECT_EQ(base64Decode(text), bytes);
  }
  for (const char* bad : {"Zg=", "Zg=a", "Zm9v Yg==", "Zm9*"}) EXPECT_EQ(base64Decode(bad), std::nullopt) << bad;
}

}  // namespace
