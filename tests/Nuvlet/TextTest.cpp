// Texts of the utility library (Base64 and percent-coding are also compiled into the simulator):
// numbers read whatever the locale and time stamps.
#include "host/Nuvlet/Base64.h"
#include "host/Nuvlet/PercentEncoding.h"
#include "host/Nuvlet/NumberText.h"
#include "host/Nuvlet/Time.h"

#include <gtest/gtest.h>
#include <locale>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

using namespace Talvo::Utility;

TEST(Base64, KnownVectorsRoundTrip) {
  // From RFC 4648, section 10, and bytes outside ASCII; OpenSSL does the work, these pin its use.
  const std::pair<std::string, std::string> vectors[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {std::string("\0\xff\xfe", 3), "AP/+"},
                                                         {"admin:p@ss:w", "YWRtaW46cEBzczp3"}};
  for (const auto& [bytes, text] : vectors) {
    SCOPED_TRACE(text);
    EXPECT_EQ(base64Encode(bytes), text);
    EXPECT_EQ(base64Decode(text), bytes);
  }
  for (const char* bad : {"Zg=", "Zg=a", "Zm9v Yg==", "Zm9*"}) EXPECT_EQ(base64Decode(bad), std::nullopt) << bad;
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

// A global locale that writes decimals with a comma, as some hosts set.
struct CommaDecimals : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};

TEST(StringToDoubleTest, ReadsWholeTextWhateverTheLocale) {
  const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaDecimals));
  EXPECT_DOUBLE_EQ(stringToDouble("2.5"), 2.5);
  std::locale::global(previous);
  EXPECT_DOUBLE_EQ(stringToDouble(" -1e3 "), -1000.0);
  EXPECT_DOUBLE_EQ(stringToDouble("\t42\n"), 42.0);
  for (const char* bad : {"", "   ", "abc", "2.5x", "1,5", "1e999", "2 3"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(stringToDouble(bad), std::invalid_argument);
  }
}

TEST(TimeTest, TimestampTextIsUtcWithMilliseconds) {
  EXPECT_EQ(timestampToString(1796560200123ull), "2026-12-06T12:30:00.123Z");
  EXPECT_EQ(timestampToString(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(timestampToString(951782400007ull), "2000-02-29T00:00:00.007Z");
}

}  // namespace
