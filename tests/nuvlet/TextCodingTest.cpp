// The shared percent-coding and base64 (libNuvlet's and the simulator's).
#include <gtest/gtest.h>

#include "host/Nuvlet/Base64.h"
#include "host/Nuvlet/PercentEncoding.h"

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

TEST(PercentEncoding, DecodeAndEncode) {
  EXPECT_EQ(percentDecode("p%40ss%2Fw%25+x%41"), "p@ss/w%+xA");  // '+' stays '+'
  EXPECT_EQ(percentDecode("%4"), std::nullopt);
  EXPECT_EQ(percentDecode("a%zz"), std::nullopt);
  EXPECT_EQ(percentDecode("a%zz%4%41", BadEscape::KeepAsWritten), "a%zz%4A");
  EXPECT_EQ(percentEncode("30+50 a/b~c-d_e.f\xff"), "30%2B50%20a%2Fb~c-d_e.f%FF");
  const std::string everyByte = [] {
    std::string bytes;
    for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
    return bytes;
  }();
  EXPECT_EQ(percentDecode(percentEncode(everyByte)), everyByte);
}

}  // namespace
