#include "JsonLine.h"

#include <cmath>
#include <cstdio>

namespace qrmhost {
namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0 when it is not one.
size_t validSequenceLength(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  uint32_t codePoint = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(i + k) & 0x3F);
  }
  const bool overlong = (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  if (overlong || surrogate || codePoint > 0x10FFFF) return 0;
  return length;
}

void appendEscapedAscii(std::string& out, char c) {
  switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\b':
      out += "\\b";
      break;
    case '\f':
      out += "\\f";
      break;
    default:
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
        out += escaped;
      } else {
        out += c;
      }
  }
}

}  // namespace

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      appendEscapedAscii(out, text[i]);
      ++i;
      continue;
    }
    const size_t length = validSequenceLength(text, i);
    if (length == 0) {
      out += "\\ufffd";
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  out += '"';
  return out;
}

std::string jsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

JsonArray& JsonArray::addRaw(const std::string& json) {
  if (!body_.empty()) body_ += ',';
  body_ += json;
  return *this;
}

JsonObject& JsonObject::addRaw(const std::string& key, const std::string& json) {
  if (!body_.empty()) body_ += ',';
  body_ += jsonString(key);
  body_ += ':';
  body_ += json;
  return *this;
}

}  // namespace qrmhost
