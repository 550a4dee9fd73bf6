// Percent-coding of the utility library (also compiled into the simulator).
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "host/Nuvlet/PercentEncoding.h"

namespace {

using namespace Talvo::Utility;

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
