// A small JSON reader that keeps the types of values (2 and "2" differ), for the model
// repository. Internal to libNuvlet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace Talvo {
namespace Json {

enum class Type { Null, Bool, Int, Double, String, Array, Object };

// "null", "boolean", "integer", "number", "string", "array", "object".
const char* typeName(Type type);

struct Value {
  Type type = Type::Null;
  bool boolean = false;
  int64_t integer = 0;                                 // Type::Int: a literal without fraction or exponent that fits
  double number = 0;                                   // Type::Double, and Type::Int converted
  std::string text;                                    // Type::String
  std::vector<Value> items;                            // Type::Array
  std::vector<std::pair<std::string, Value>> members;  // Type::Object, in file order, names unique

  bool is(Type t) const { return type == t; }
  // The member named `name` of an object, or null.
  const Value* find(const std::string& name) const;
};

// Thrown by parse; the message gives line and column and what was expected.
class ParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr size_t kDefaultMaxDepth = 64;

// Parses one JSON document (surrounding blanks allowed). Arrays and objects deeper than
// `maxDepth` are refused, so that no input can exhaust the stack.
Value parse(const std::string& text, size_t maxDepth = kDefaultMaxDepth);

}  // namespace Json
}  // namespace Talvo
