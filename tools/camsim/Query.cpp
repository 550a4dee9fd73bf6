#include "Query.h"

#include <cctype>
#include <cstdlib>

namespace camsim {

const QueryItem* Target::find(const std::string& name) const {
  for (const QueryItem& item : query) {
    if (item.name == name) return &item;
  }
  return nullptr;
}

std::string Target::valueOr(const std::string& name, const std::string& fallback) const {
  const QueryItem* item = find(name);
  return item ? item->value : fallback;
}

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

QueryItem parseItem(const std::string& text) {
  QueryItem item;
  const auto equals = text.find('=');
  if (equals == std::string::npos) {
    item.name = percentDecode(text);
    return item;
  }
  item.name = percentDecode(text.substr(0, equals));
  item.value = percentDecode(text.substr(equals + 1));
  item.hasValue = true;
  return item;
}

}  // namespace

std::string percentDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hexDigit(text[i + 1]);
      const int low = hexDigit(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string percentEncode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

Target parseTarget(const std::string& target) {
  Target parsed;
  const auto question = target.find('?');
  parsed.path = percentDecode(target.substr(0, question));
  if (question == std::string::npos) return parsed;
  std::size_t start = question + 1;
  while (start <= target.size()) {
    auto end = target.find('&', start);
    if (end == std::string::npos) end = target.size();
    if (end > start) parsed.query.push_back(parseItem(target.substr(start, end - start)));
    start = end + 1;
  }
  return parsed;
}

std::optional<long> parseNumber(const std::string& text, long min, long max) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value < min || value > max) return std::nullopt;
  return value;
}

}  // namespace camsim
