// The checks the repository's JSON reader adds to nlohmann's: positions in error texts, the
// nesting cap, duplicate names, and kept value types and member order.
#include "Nuvlet/src/Json.h"

#include <gtest/gtest.h>

namespace {

using namespace Talvo::Json;

TEST(JsonTest, KeepsTypesAndMemberOrder) {
  const Value doc = parse(R"({"z": 2, "a": "2", "m": 2.0, "b": 123456789012345678901234567890})");
  EXPECT_EQ(doc.dump(), R"({"z":2,"a":"2","m":2.0,"b":1.2345678901234568e+29})");
  EXPECT_STREQ(typeName(doc["z"]), "integer");
  EXPECT_STREQ(typeName(doc["m"]), "number");
  EXPECT_STREQ(typeName(doc["b"]), "number");
}

TEST(JsonTest, ErrorsNameLineColumnAndWhatIsWrong) {
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      {"", "JSON error at line 1, column 1: syntax error while parsing value - unexpected end of input"},
      {"{\n  \"a\": 1,\n  \"a\": 2}", "JSON error at line 3, column 5: duplicate member 'a'"},
      {"{\"a\": {\"b\": 1}, \"b\": {\"b\": 2}}", nullptr},  // the same name in different objects is fine
      {"[1,\n 1e999]", "JSON error at line 2, column 6: number overflow parsing '1e999'"},
      {std::string(65, '[') + std::string(65, ']'), "JSON error at line 1, column 65: nesting deeper than 64 levels"},
      {"{} {}", "JSON error at line 1, column 4: syntax error while parsing value - unexpected '{'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      parse(c.text);
      EXPECT_EQ(c.error, nullptr);
    } catch (const ParseError& e) {
      ASSERT_NE(c.error, nullptr) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u) << e.what();
    }
  }
  EXPECT_NO_THROW(parse(std::string(64, '[') + std::string(64, ']')));
}

}  // namespace
