#include "JsonReader.h"

#include <cctype>

#include "JsonLine.h"

namespace qrmhost {
namespace {

void appendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  JsonValue document() {
    JsonValue value = parseValue(0);
    skipSpace();
    if (position_ != text_.size()) fail("unexpected text after the document");
    return value;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const { throw JsonSyntaxError(line_, what); }

  bool atEnd() const { return position_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[position_]; }
  char take() {
    if (atEnd()) fail("the text ends too early");
    return text_[position_++];
  }
  void expect(char c) {
    if (take() != c) fail(std::string("expected '") + c + "'");
  }

  void skipSpace() {
    while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
      if (peek() == '\n') ++line_;
      ++position_;
    }
  }

  JsonValue parseValue(size_t depth) {
    if (depth > kMaxJsonDepth) fail("nested too deep");
    skipSpace();
    const char c = peek();
    if (c == '{') return parseObject(depth);
    if (c == '[') return parseArray(depth);
    if (c == '"') return scalar(JsonValue::Type::String, parseString());
    if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return scalar(JsonValue::Type::Number, parseNumber());
    if (takeWord("true")) return scalar(JsonValue::Type::Bool, "true");
    if (takeWord("false")) return scalar(JsonValue::Type::Bool, "false");
    if (takeWord("null")) return JsonValue();
    fail(atEnd() ? "the text ends too early" : "expected a value");
  }

  static JsonValue scalar(JsonValue::Type type, std::string text) {
    JsonValue value;
    value.type = type;
    value.text = std::move(text);
    return value;
  }

  bool takeWord(const char* word) {
    const std::string expected(word);
    if (text_.compare(position_, expected.size(), expected) != 0) return false;
    position_ += expected.size();
    return true;
  }

  JsonValue parseObject(size_t depth) {
    JsonValue object;
    object.type = JsonValue::Type::Object;
    expect('{');
    skipSpace();
    if (peek() == '}') return ++position_, object;
    for (;;) {
      skipSpace();
      if (peek() != '"') fail("expected a member name");
      std::string name = parseString();
      skipSpace();
      expect(':');
      object.members.emplace_back(std::move(name), parseValue(depth + 1));
      skipSpace();
      if (take() == '}') return object;
      --position_;
      expect(',');
    }
  }

  JsonValue parseArray(size_t depth) {
    JsonValue array;
    array.type = JsonValue::Type::Array;
    expect('[');
    skipSpace();
    if (peek() == ']') return ++position_, array;
    for (;;) {
      array.items.push_back(parseValue(depth + 1));
      skipSpace();
      if (take() == ']') return array;
      --position_;
      expect(',');
    }
  }

  uint32_t parseHex4() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = take();
      if (!std::isxdigit(static_cast<unsigned char>(c))) fail("bad \\u escape");
      value = value * 16 +
              static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10);
    }
    return value;
  }

  uint32_t parseUnicodeEscape() {
    uint32_t codePoint = parseHex4();
    if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
      if (take() != '\\' || take() != 'u') fail("a lone surrogate in a \\u escape");
      const uint32_t low = parseHex4();
      if (low < 0xDC00 || low > 0xDFFF) fail("a lone surrogate in a \\u escape");
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
    } else if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) {
      fail("a lone surrogate in a \\u escape");
    }
    return codePoint;
  }

  std::string parseString() {
    expect('"');
    std::string out;
    for (;;) {
      if (atEnd()) fail("the text ends inside a string");
      const char c = take();
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) fail("a control character inside a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      const char escaped = take();
      switch (escaped) {
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
          appendUtf8(out, parseUnicodeEscape());
          break;
        default:
          fail("bad escape in a string");
      }
    }
  }

  size_t takeDigits() {
    const size_t start = position_;
    while (std::isdigit(static_cast<unsigned char>(peek()))) ++position_;
    return position_ - start;
  }

  std::string parseNumber() {
    const size_t start = position_;
    if (peek() == '-') ++position_;
    if (peek() == '0') {
      ++position_;
    } else if (takeDigits() == 0) {
      fail("bad number");
    }
    if (peek() == '.') {
      ++position_;
      if (takeDigits() == 0) fail("bad number");
    }
    if (peek() == 'e' || peek() == 'E') {
      ++position_;
      if (peek() == '+' || peek() == '-') ++position_;
      if (takeDigits() == 0) fail("bad number");
    }
    return text_.substr(start, position_ - start);
  }

  const std::string& text_;
  size_t position_ = 0;
  size_t line_ = 1;
};

}  // namespace

const JsonValue* JsonValue::find(const std::string& key) const {
  for (const auto& member : members)
    if (member.first == key) return &member.second;
  return nullptr;
}

std::string JsonValue::encoded() const {
  switch (type) {
    case Type::Null:
      return "null";
    case Type::Bool:
    case Type::Number:
      return text;
    case Type::String:
      return jsonString(text);
    case Type::Array: {
      JsonArray array;
      for (const auto& item : items) array.addRaw(item.encoded());
      return array.str();
    }
    case Type::Object: {
      JsonObject object;
      for (const auto& [name, value] : members) object.addRaw(name, value.encoded());
      return object.str();
    }
  }
  return "null";
}

JsonValue parseJson(const std::string& text) { return Parser(text).document(); }

}  // namespace qrmhost
