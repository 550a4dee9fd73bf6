// The typed JSON reader of the repository.
#include "Nuvlet/src/Json.h"

#include <gtest/gtest.h>

namespace {

using namespace Talvo::Json;

TEST(JsonTest, KeepsTypesOfValues) {
  const Value doc = parse(R"( {"i": 2, "s": "2", "d": 2.5, "e": 1e2, "n": -7, "t": true, "f": false, "z": null,
                               "a": [1, "x"], "o": {}} )");
  ASSERT_TRUE(doc.is(Type::Object));
  EXPECT_TRUE(doc.find("i")->is(Type::Int));
  EXPECT_EQ(doc.find("i")->integer, 2);
  EXPECT_TRUE(doc.find("s")->is(Type::String));
  EXPECT_EQ(doc.find("s")->text, "2");
  EXPECT_TRUE(doc.find("d")->is(Type::Double));
  EXPECT_DOUBLE_EQ(doc.find("d")->number, 2.5);
  EXPECT_TRUE(doc.find("e")->is(Type::Double));
  EXPECT_EQ(doc.find("n")->integer, -7);
  EXPECT_TRUE(doc.find("t")->boolean);
  EXPECT_TRUE(doc.find("f")->is(Type::Bool));
  EXPECT_FALSE(doc.find("f")->boolean);
  EXPECT_TRUE(doc.find("z")->is(Type::Null));
  ASSERT_EQ(doc.find("a")->items.size(), 2u);
  EXPECT_TRUE(doc.find("o")->is(Type::Object));
  EXPECT_EQ(doc.find("missing"), nullptr);
  EXPECT_EQ(doc.members[0].first, "i") << "members keep file order";
}

TEST(JsonTest, DecodesStringEscapes) {
  const Value doc = parse(R"(["a\"b\\c\/d\n\t", "\u00e9", "\ud83d\ude00"])");
  EXPECT_EQ(doc.items[0].text, "a\"b\\c/d\n\t");
  EXPECT_EQ(doc.items[1].text, "\xC3\xA9");
  EXPECT_EQ(doc.items[2].text, "\xF0\x9F\x98\x80");
}

TEST(JsonTest, LargeIntegersBecomeNumbers) {
  EXPECT_TRUE(parse("123456789012345678901234567890").is(Type::Double));
  EXPECT_TRUE(parse("9007199254740993").is(Type::Int));
}

TEST(JsonTest, RefusesMalformedTextWithPosition) {
  const char* const bad[] = {"",       "  ",          "{",         "[1,]",      "{\"a\":1,}", "{\"a\" 1}",
                             "{a:1}",  "[1 2]",       "01",        "-",         "1.",         ".5",
                             "1e",     "tru",         "nul",       "\"abc",     "\"\\x\"",    "\"\\u12\"",
                             "\"\\ud800\"", "\"a\nb\"", "{} {}",   "{\"a\":1,\"a\":2}", "1e999", "[\"\\"};
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    try {
      parse(text);
      ADD_FAILURE() << "accepted";
    } catch (const ParseError& e) {
      EXPECT_NE(std::string(e.what()).find("JSON error at line "), std::string::npos) << e.what();
    }
  }
}

TEST(JsonTest, ErrorNamesLineAndColumn) {
  try {
    parse("{\n  \"a\": [1,\n  x]}");
    FAIL();
  } catch (const ParseError& e) {
    EXPECT_STREQ(e.what(), "JSON error at line 3, column 3: a value is expected");
  }
}

TEST(JsonTest, NestingIsCapped) {
  EXPECT_NO_THROW(parse(std::string(64, '[') + std::string(64, ']')));
  EXPECT_THROW(parse(std::string(65, '[') + std::string(65, ']')), ParseError);
  EXPECT_THROW(parse(std::string(100000, '[')), ParseError);
}

}  // namespace
