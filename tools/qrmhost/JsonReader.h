// A small JSON reader for the model repository. It keeps what the module's own reader keeps and
// a generic tree would lose: whether a value was written as a number or as a string ("version": 2
// and "version": "2" mean different things to the module), and the order of object members.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qrmhost {

class JsonValue {
 public:
  enum class Type { Null, Bool, Number, String, Array, Object };

  Type type = Type::Null;
  std::string text;              // Bool: "true"/"false"; Number: the literal as written; String: the decoded text
  std::vector<JsonValue> items;  // Array
  std::vector<std::pair<std::string, JsonValue>> members;  // Object, in file order

  // The first member named `key` of an object, or null (also for other types).
  const JsonValue* find(const std::string& key) const;
  // The value as compact JSON, numbers as they were written.
  std::string encoded() const;
};

class JsonSyntaxError : public std::runtime_error {
 public:
  JsonSyntaxError(size_t line, const std::string& what)
      : std::runtime_error("JSON error at line " + std::to_string(line) + ": " + what) {}
};

// Limits the reader holds to, the same as the module's.
constexpr size_t kMaxJsonDepth = 64;

// Parses a whole document; throws JsonSyntaxError.
JsonValue parseJson(const std::string& text);

}  // namespace qrmhost
