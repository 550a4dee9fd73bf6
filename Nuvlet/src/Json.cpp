// A recursive-descent JSON reader with a depth cap.
#include "Nuvlet/src/Json.h"

#include <cerrno>
#include <cstdlib>

#include "host/Nuvlet/NumberText.h"

namespace Talvo {
namespace Json {

const char* typeName(Type type) {
  switch (type) {
    case Type::Null:
      return "null";
    case Type::Bool:
      return "boolean";
    case Type::Int:
      return "integer";
    case Type::Double:
      return "number";
    case Type::String:
      return "string";
    case Type::Array:
      return "array";
    case Type::Object:
      return "object";
  }
  return "value";
}

const Value* Value::find(const std::string& name) const {
  for (const auto& member : members)
    if (member.first == name) return &member.second;
  return nullptr;
}

namespace {

class Parser {
 public:
  Parser(const std::string& text, size_t maxDepth) : text_(text), maxDepth_(maxDepth) {}

  Value document() {
    skipBlanks();
    if (atEnd()) fail("the text is empty");
    Value value = parseValue(0);
    skipBlanks();
    if (!atEnd()) fail("unexpected text after the end of the document");
    return value;
  }

 private:
  bool atEnd() const { return pos_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[pos_]; }

  [[noreturn]] void fail(const std::string& what) const {
    size_t line = 1, column = 1;
    for (size_t i = 0; i < pos_ && i < text_.size(); ++i) {
      if (text_[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    throw ParseError("JSON error at line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what);
  }

  void skipBlanks() {
    while (!atEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r'))
      ++pos_;
  }

  void expectWord(const char* word) {
    for (const char* c = word; *c; ++c, ++pos_)
      if (peek() != *c) fail(std::string("'") + word + "' expected");
  }

  Value parseValue(size_t depth) {
    skipBlanks();
    Value value;
    switch (peek()) {
      case '{':
        return parseObject(depth + 1);
      case '[':
        return parseArray(depth + 1);
      case '"':
        value.type = Type::String;
        value.text = parseString();
        return value;
      case 't':
        expectWord("true");
        value.type = Type::Bool;
        value.boolean = true;
        return value;
      case 'f':
        expectWord("false");
        value.type = Type::Bool;
        return value;
      case 'n':
        expectWord("null");
        return value;
      default:
        if (peek() == '-' || (peek() >= '0' && peek() <= '9')) return parseNumber();
        fail(atEnd() ? "the text ends where a value is expected" : "a value is expected");
    }
  }

  void enter(size_t depth) const {
    if (depth > maxDepth_) fail("nesting deeper than " + std::to_string(maxDepth_) + " levels");
  }

  Value parseObject(size_t depth) {
    enter(depth);
    Value value;
    value.type = Type::Object;
    ++pos_;  // '{'
    skipBlanks();
    if (peek() == '}') {
      ++pos_;
      return value;
    }
    for (;;) {
      skipBlanks();
      if (peek() != '"') fail("a member name in quotes is expected");
      std::string name = parseString();
      if (value.find(name)) fail("duplicate member '" + name + "'");
      skipBlanks();
      if (peek() != ':') fail("':' expected after a member name");
      ++pos_;
      Value member = parseValue(depth);
      value.members.emplace_back(std::move(name), std::move(member));
      skipBlanks();
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      if (peek() == '}') {
        ++pos_;
        return value;
      }
      fail("',' or '}' expected");
    }
  }

  Value parseArray(size_t depth) {
    enter(depth);
    Value value;
    value.type = Type::Array;
    ++pos_;  // '['
    skipBlanks();
    if (peek() == ']') {
      ++pos_;
      return value;
    }
    for (;;) {
      value.items.push_back(parseValue(depth));
      skipBlanks();
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      if (peek() == ']') {
        ++pos_;
        return value;
      }
      fail("',' or ']' expected");
    }
  }

  unsigned parseHex4() {
    unsigned code = 0;
    for (int i = 0; i < 4; ++i, ++pos_) {
      const char c = peek();
      code <<= 4;
      if (c >= '0' && c <= '9')
        code |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        code |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        code |= static_cast<unsigned>(c - 'A' + 10);
      else
        fail("four hex digits expected after \\u");
    }
    return code;
  }

  static void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  unsigned parseEscapedCodePoint() {
    unsigned code = parseHex4();
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (peek() != '\\' || pos_ + 1 >= text_.size() || text_[pos_ + 1] != 'u') fail("unpaired surrogate in \\u");
      pos_ += 2;
      const unsigned low = parseHex4();
      if (low < 0xDC00 || low > 0xDFFF) fail("unpaired surrogate in \\u");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      fail("unpaired surrogate in \\u");
    }
    return code;
  }

  std::string parseString() {
    ++pos_;  // '"'
    std::string out;
    for (;;) {
      if (atEnd()) fail("the text ends inside a string");
      const char c = text_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) {
        --pos_;
        fail("control character inside a string");
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (atEnd()) fail("the text ends inside a string");
      const char escape = text_[pos_++];
      switch (escape) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u':
          appendUtf8(out, parseEscapedCodePoint());
          break;
        default:
          --pos_;
          fail("unknown escape in a string");
      }
    }
  }

  void digits() {
    if (!(peek() >= '0' && peek() <= '9')) fail("a digit is expected");
    while (peek() >= '0' && peek() <= '9') ++pos_;
  }

  Value parseNumber() {
    const size_t start = pos_;
    bool integral = true;
    if (peek() == '-') ++pos_;
    if (peek() == '0') {
      ++pos_;
    } else {
      digits();
    }
    if (peek() == '.') {
      integral = false;
      ++pos_;
      digits();
    }
    if (peek() == 'e' || peek() == 'E') {
      integral = false;
      ++pos_;
      if (peek() == '+' || peek() == '-') ++pos_;
      digits();
    }
    const std::string literal = text_.substr(start, pos_ - start);
    Value value;
    if (integral) {
      errno = 0;
      char* end = nullptr;
      const long long parsed = std::strtoll(literal.c_str(), &end, 10);
      if (errno == 0 && end && *end == '\0') {
        value.type = Type::Int;
        value.integer = parsed;
        value.number = static_cast<double>(parsed);
        return value;
      }
    }
    value.type = Type::Double;
    try {
      value.number = Utility::stringToDouble(literal);
    } catch (const std::exception&) {
      pos_ = start;
      fail("number out of range");
    }
    return value;
  }

  const std::string& text_;
  const size_t maxDepth_;
  size_t pos_ = 0;
};

}  // namespace

Value parse(const std::string& text, size_t maxDepth) { return Parser(text, maxDepth).document(); }

}  // namespace Json
}  // namespace Talvo
