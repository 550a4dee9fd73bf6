// Base64 of the utility library (also compiled into the simulator).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "host/Nuvlet/Base64.h"

namespace {

using namespace Talvo::Utility;

TEST(Base64, KnownVectorsRoundTrip) {
  // RFC 4648, section 10, and bytes outside ASCII.
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\0\xff\xfe", 3), "AP/+"},
      {"admin:p@ss:w", "YWRtaW46cEBzczp3"},
  };
  for (const auto& [bytes, text] : vectors) {
    SCOPED_TRACE(text);
    EXPECT_EQ(base64Encode(bytes), text);
    EXPECT_EQ(base64Decode(text), bytes);
  }
  for (const char* bad : {"Zg=", "Zg=a", "Z===", "Zm9v Yg==", " Zm8", "Zm8 ", "Zm9*", "=Zm8"})
    EXPECT_EQ(base64Decode(bad), std::nullopt) << bad;
}

}  // namespace
