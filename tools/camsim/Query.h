// Splitting a request target into path and query parameters, each %-decoded (a malformed
// escape is kept as written).
// The camera keeps '+' literally: dual-lens values look like "30+50", so '+' never means space.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace camsim {

// One "name[=value]" item of a query, in the order the client sent it.
struct QueryItem {
  std::string name;
  std::string value;
  bool hasValue = false;
};

struct Target {
  std::string path;              // before '?', %-decoded
  std::vector<QueryItem> query;  // after '?', each name and value %-decoded

  // First item with this name, if any.
  const QueryItem* find(const std::string& name) const;
  bool has(const std::string& name) const { return find(name) != nullptr; }
  // Value of the first item with this name, or the fallback.
  std::string valueOr(const std::string& name, const std::string& fallback) const;
};

Target parseTarget(const std::string& target);

// Whole-string decimal number in [min, max], or nothing.
std::optional<long> parseNumber(const std::string& text, long min, long max);

}  // namespace camsim
