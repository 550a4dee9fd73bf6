// Reading the model repository's JSON with nlohmann's reader, plus the checks it leaves to us:
// a nesting cap, refused duplicate member names, and errors that name line and column. Member order and value types are
// kept (ordered_json: 2 and "2" differ). Internal to libNuvlet.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace Talvo {
namespace Json {

using Value = nlohmann::ordered_json;

// "null", "boolean", "integer", "number" (with fraction or exponent), "string", "array", "object".
const char* typeName(const Value& value);

// Thrown by parse: "JSON error at line L, column C: <what was expected>".
class ParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr size_t kDefaultMaxDepth = 64;

// Parses one JSON document (surrounding blanks allowed). Arrays and objects deeper than
// `maxDepth` are refused, so that no input can build an unbounded tree.
Value parse(const std::string& text, size_t maxDepth = kDefaultMaxDepth);

}  // namespace Json
}  // namespace Talvo
