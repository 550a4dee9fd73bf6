#include "Nuvlet/src/Json.h"

#include <iterator>
#include <set>
#include <vector>

namespace Talvo {
namespace Json {
namespace {

// "line L, column C" of the byte at `offset` (both counted from 1).
std::string positionOf(const std::string& text, size_t offset) {
  size_t line = 1, lineStart = 0;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(offset - lineStart + 1);
}

// Walks the text for nlohmann's reader and keeps how many bytes it has taken, so that a check
// made in the handler below can name where the reader stands.
class CountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator(const char* at, const char* begin, size_t* taken) : at_(at), begin_(begin), taken_(taken) {}
  reference operator*() const { return *at_; }
  CountingIterator& operator++() {
    ++at_;
    *taken_ = static_cast<size_t>(at_ - begin_);
    return *this;
  }
  bool operator==(const CountingIterator& other) const { return at_ == other.at_; }
  bool operator!=(const CountingIterator& other) const { return at_ != other.at_; }

 private:
  const char* at_;
  const char* begin_;
  size_t* taken_;
};

// nlohmann's tree builder with our checks in front of it. Every failure throws ParseError.
class CheckedTreeBuilder : public nlohmann::json_sax<Value> {
 public:
  CheckedTreeBuilder(Value& root, const std::string& text, const size_t& taken, size_t maxDepth)
      : builder_(root), text_(text), taken_(taken), maxDepth_(maxDepth) {}

  bool null() override { return builder_.null(); }
  bool boolean(bool value) override { return builder_.boolean(value); }
  bool number_integer(number_integer_t value) override { return builder_.number_integer(value); }
  bool number_unsigned(number_unsigned_t value) override { return builder_.number_unsigned(value); }
  bool number_float(number_float_t value, const string_t& literal) override {
    return builder_.number_float(value, literal);
  }
  bool string(string_t& value) override { return builder_.string(value); }
  bool binary(binary_t& value) override { return builder_.binary(value); }
  bool start_object(std::size_t elements) override {
    enter();
    memberNames_.emplace_back();
    return builder_.start_object(elements);
  }
  bool key(string_t& name) override {
    if (!memberNames_.back().insert(name).second) fail("duplicate member '" + name + "'");
    return builder_.key(name);
  }
  bool end_object() override {
    --depth_;
    memberNames_.pop_back();
    return builder_.end_object();
  }
  bool start_array(std::size_t elements) override {
    enter();
    return builder_.start_array(elements);
  }
  bool end_array() override {
    --depth_;
    return builder_.end_array();
  }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& error) override {
    // nlohmann's text is "[json.exception.<kind>] <what>", where a syntax error's <what> starts
    // with its own "parse error at line L, column C: ".
    std::string what = error.what();
    what = what.substr(what.find("] ") + 2);
    if (what.rfind("parse error", 0) == 0) what = what.substr(what.find(": ") + 2);
    throw ParseError("JSON error at " + positionOf(text_, position > 0 ? position - 1 : 0) + ": " + what);
  }

 private:
  // The reader has just taken the byte the check is about.
  [[noreturn]] void fail(const std::string& what) const {
    throw ParseError("JSON error at " + positionOf(text_, taken_ > 0 ? taken_ - 1 : 0) + ": " + what);
  }
  void enter() {
    if (++depth_ > maxDepth_) fail("nesting deeper than " + std::to_string(maxDepth_) + " levels");
  }

  nlohmann::detail::json_sax_dom_parser<Value> builder_;
  const std::string& text_;
  const size_t& taken_;
  const size_t maxDepth_;
  size_t depth_ = 0;
  std::vector<std::set<std::string>> memberNames_;  // per open object
};

}  // namespace

const char* typeName(const Value& value) {
  if (value.is_number_integer()) return "integer";
  if (value.is_number()) return "number";
  return value.type_name();
}

Value parse(const std::string& text, size_t maxDepth) {
  Value root;
  size_t taken = 0;
  CheckedTreeBuilder builder(root, text, taken, maxDepth);
  const char* begin = text.data();
  Value::sax_parse(CountingIterator(begin, begin, &taken), CountingIterator(begin + text.size(), begin, &taken),
                   &builder);
  return root;
}

}  // namespace Json
}  // namespace Talvo
