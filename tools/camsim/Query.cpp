#include "Query.h"

#include <cctype>
#include <cstdlib>

#include "host/Nuvlet/PercentEncoding.h"

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

std::string decodedPart(const std::string& text) {
  return *Talvo::Utility::percentDecode(text, Talvo::Utility::BadEscape::KeepAsWritten);
}

QueryItem parseItem(const std::string& text) {
  QueryItem item;
  const auto equals = text.find('=');
  if (equals == std::string::npos) {
    item.name = decodedPart(text);
    return item;
  }
  item.name = decodedPart(text.substr(0, equals));
  item.value = decodedPart(text.substr(equals + 1));
  item.hasValue = true;
  return item;
}

}  // namespace

Target parseTarget(const std::string& target) {
  Target parsed;
  const auto question = target.find('?');
  parsed.path = decodedPart(target.substr(0, question));
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
