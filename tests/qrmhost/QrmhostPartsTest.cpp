// The parts of qrmhost that need no module, for the cases its end-to-end tests do not reach:
// JSON text, camera addresses and --set values.
#include <gtest/gtest.h>

#include "CameraUrl.h"
#include "ExitError.h"
#include "JsonLine.h"
#include "JsonReader.h"
#include "SettingValue.h"

namespace qrmhost {
namespace {

TEST(JsonLine, EscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(jsonString("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(jsonString("line\nnext\ttab\r"), R"("line\nnext\ttab\r")");
  EXPECT_EQ(jsonString(std::string("\x01\x1f\x7f", 3)), R"("\u0001\u001f\u007f")");
  EXPECT_EQ(jsonString(std::string("nul\0here", 8)), R"("nul\u0000here")");
}

TEST(JsonLine, KeepsValidUtf8AndReplacesInvalidBytes) {
  EXPECT_EQ(jsonString("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7"), "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7\"");
  EXPECT_EQ(jsonString("bad\xff"), R"("bad\ufffd")");
  EXPECT_EQ(jsonString("cut\xe2\x82"), R"("cut\ufffd\ufffd")");
  EXPECT_EQ(jsonString("\xc0\xaf"), R"("\ufffd\ufffd")");            // overlong '/'
  EXPECT_EQ(jsonString("\xed\xa0\x80"), R"("\ufffd\ufffd\ufffd")");  // a surrogate
}

TEST(JsonReader, KeepsNumbersAsWrittenAndStringsApart) {
  const JsonValue value = parseJson(R"( {"a": 2, "b": "2", "c": -1.5e3, "d": [true, null], "e": {}} )");
  ASSERT_EQ(value.type, JsonValue::Type::Object);
  EXPECT_EQ(value.find("a")->type, JsonValue::Type::Number);
  EXPECT_EQ(value.find("b")->type, JsonValue::Type::String);
  EXPECT_EQ(value.encoded(), R"({"a":2,"b":"2","c":-1.5e3,"d":[true,null],"e":{}})");
  EXPECT_EQ(value.find("missing"), nullptr);
}

TEST(JsonReader, DecodesEscapes) {
  const JsonValue value = parseJson(R"(["\"\\\/\n\u00e9\ud83d\udcf7"])");
  ASSERT_EQ(value.items.size(), 1u);
  EXPECT_EQ(value.items[0].text, "\"\\/\n\xc3\xa9\xf0\x9f\x93\xb7");
}

TEST(JsonReader, RefusesMalformedText) {
  for (const char* text : {"", "{", "[1,]", "{\"a\" 1}", "01", "1.", "-", "\"open", "[\"\\x\"]", "\"\\ud800\"", "tru",
                           "{} {}", "[\"\x01\"]"})
    EXPECT_THROW(parseJson(text), JsonSyntaxError) << text;
}

TEST(JsonReader, LimitsNesting) {
  EXPECT_NO_THROW(parseJson(std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']')));
  EXPECT_THROW(parseJson(std::string(kMaxJsonDepth + 2, '[') + std::string(kMaxJsonDepth + 2, ']')), JsonSyntaxError);
}

TEST(JsonReader, NamesTheLineOfAnError) {
  try {
    parseJson("{\n\"a\": 1,\n\"b\": ?\n}");
    FAIL() << "no error";
  } catch (const JsonSyntaxError& error) {
    EXPECT_NE(std::string(error.what()).find("line 3"), std::string::npos) << error.what();
  }
}

TEST(CameraUrl, RefusesOtherSchemesAndBadPorts) {
  EXPECT_FALSE(parseCameraUrl("rtsp://host/"));
  EXPECT_FALSE(parseCameraUrl("host:80"));
  EXPECT_FALSE(parseCameraUrl("http://user:pw@/"));
  EXPECT_FALSE(parseCameraUrl("http://host:0/"));
  EXPECT_FALSE(parseCameraUrl("http://host:65536/"));
  EXPECT_FALSE(parseCameraUrl("http://host:8o/"));
}

TEST(CameraUrl, WithoutCredentialsCutsUpToTheLastAt) {
  EXPECT_EQ(withoutCredentials("http://u:p@w@h:1/"), "http://h:1/");
  EXPECT_EQ(withoutCredentials("plain text"), "plain text");
  EXPECT_EQ(withoutCredentials("user@host"), "user@host");
}

TEST(SettingValue, GuessesTheType) {
  EXPECT_EQ(std::get<int>(parseSetting("fps=25").value), 25);
  EXPECT_EQ(std::get<int>(parseSetting("offset=-3").value), -3);
  EXPECT_EQ(std::get<bool>(parseSetting("on=true").value), true);
  EXPECT_EQ(std::get<double>(parseSetting("gain=1.5").value), 1.5);
  EXPECT_EQ(std::get<double>(parseSetting("big=99999999999").value), 99999999999.0);
  EXPECT_EQ(std::get<std::string>(parseSetting("mode=night").value), "night");
  EXPECT_EQ(std::get<std::string>(parseSetting("when=12:30").value), "12:30");
  EXPECT_EQ(std::get<std::string>(parseSetting("odd=nan").value), "nan");
  EXPECT_EQ(std::get<std::string>(parseSetting("empty=").value), "");
  EXPECT_EQ(parseSetting("a=b=c").name, "a");
  EXPECT_EQ(std::get<std::string>(parseSetting("a=b=c").value), "b=c");
}

TEST(SettingValue, SuffixForcesTheType) {
  EXPECT_EQ(std::get<std::string>(parseSetting("code=12:string").value), "12");
  EXPECT_EQ(std::get<double>(parseSetting("gain=3:double").value), 3.0);
  EXPECT_EQ(std::get<int>(parseSetting("n=7:int").value), 7);
  EXPECT_EQ(std::get<bool>(parseSetting("on=false:bool").value), false);
  EXPECT_THROW(parseSetting("n=7.5:int"), ExitError);
  EXPECT_THROW(parseSetting("on=yes:bool"), ExitError);
  EXPECT_THROW(parseSetting("g=x:double"), ExitError);
  EXPECT_THROW(parseSetting("=5"), ExitError);
  EXPECT_THROW(parseSetting("novalue"), ExitError);
}

}  // namespace
}  // namespace qrmhost
