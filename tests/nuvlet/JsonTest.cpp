// The typed JSON reader of the repository: escapes, number types and malformed text (types,
// positions and the nesting cap are checked through RepositoryTest).
#include "Nuvlet/src/Json.h"

#include <gtest/gtest.h>

namespace {

using namespace Talvo::Json;

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
  const char* const bad[] = {"",
                             "  ",
                             "{",
                             "[1,]",
                             "{\"a\":1,}",
                             "{\"a\" 1}",
                             "{a:1}",
                             "[1 2]",
                             "01",
                             "-",
                             "1.",
                             ".5",
                             "1e",
                             "tru",
                             "nul",
                             "\"abc",
                             "\"\\x\"",
                             "\"\\u12\"",
                             "\"\\ud800\"",
                             "\"a\nb\"",
                             "{} {}",
                             "{\"a\":1,\"a\":2}",
                             "1e999",
                             "[\"\\"};
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

}  // namespace
