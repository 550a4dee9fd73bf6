// `live --set NAME=VALUE` values, typed the way the video source's adjuster takes them, and the
// output line's guard against bytes that are not UTF-8.
#include <gtest/gtest.h>

#include "ExitError.h"
#include "JsonLine.h"
#include "SettingValue.h"

namespace qrmhost {
namespace {

using Value = std::variant<int, bool, double, std::string>;

TEST(SettingValue, GuessedOrForcedType) {
  const struct {
    const char* text;
    Value value;
  } cases[] = {
      {"fps=25", 25},
      {"offset=-3", -3},
      {"on=true", true},
      {"gain=1.5", 1.5},
      {"big=99999999999", 99999999999.0},
      {"mode=night", std::string("night")},
      {"when=12:30", std::string("12:30")},
      {"odd=nan", std::string("nan")},
      {"empty=", std::string("")},
      {"a=b=c", std::string("b=c")},
      {"code=12:string", std::string("12")},
      {"gain=3:double", 3.0},
      {"n=7:int", 7},
      {"on=false:bool", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const SettingValue setting = parseSetting(c.text);
    EXPECT_EQ(setting.name, std::string(c.text).substr(0, std::string(c.text).find('=')));
    EXPECT_EQ(setting.value, c.value);
  }
  for (const char* bad : {"n=7.5:int", "on=yes:bool", "g=x:double", "=5", "novalue"})
    EXPECT_THROW(parseSetting(bad), ExitError) << bad;
}

TEST(JsonLine, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  JsonObject line = kindLine("frame");
  line["codec"] = std::string("caf\xc3\xa9 bad\xff");
  EXPECT_EQ(lineText(line), "{\"kind\":\"frame\",\"codec\":\"caf\xc3\xa9 bad\xef\xbf\xbd\"}");
}

}  // namespace
}  // namespace qrmhost
