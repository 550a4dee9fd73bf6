#include "SettingValue.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "ExitError.h"

namespace qrmhost {
namespace {

std::optional<int> readInt(const std::string& text) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < INT_MIN || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<bool> readBool(const std::string& text) {
  if (text == "true") return true;
  if (text == "false") return false;
  return std::nullopt;
}

// Plain decimal notation only ("-1.5", "2e3"): strtod alone would also take "nan" or "0x1p3".
bool looksDecimal(const std::string& text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) ++digits;
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponentDigits = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == text.size();
}

std::optional<double> readDouble(const std::string& text) {
  if (!looksDecimal(text)) return std::nullopt;
  const double value = std::strtod(text.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

ExitError badForcedValue(const std::string& name, const char* type) {
  return usageError("--set " + name + ": the value is not a " + type);
}

std::variant<int, bool, double, std::string> guessedValue(const std::string& text) {
  if (auto number = readInt(text)) return *number;
  if (auto flag = readBool(text)) return *flag;
  if (auto decimal = readDouble(text)) return *decimal;
  return text;
}

std::variant<int, bool, double, std::string> forcedValue(const std::string& name, std::string text, bool& forced) {
  forced = true;
  if (endsWith(text, ":int")) {
    if (auto number = readInt(text.substr(0, text.size() - 4))) return *number;
    throw badForcedValue(name, "int");
  }
  if (endsWith(text, ":bool")) {
    if (auto flag = readBool(text.substr(0, text.size() - 5))) return *flag;
    throw badForcedValue(name, "bool (true or false)");
  }
  if (endsWith(text, ":double")) {
    if (auto decimal = readDouble(text.substr(0, text.size() - 7))) return *decimal;
    throw badForcedValue(name, "double");
  }
  if (endsWith(text, ":string")) return text.substr(0, text.size() - 7);
  forced = false;
  return text;
}

}  // namespace

SettingValue parseSetting(const std::string& text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) throw usageError("--set needs NAME=VALUE");
  SettingValue setting;
  setting.name = text.substr(0, equals);
  bool forced = false;
  setting.value = forcedValue(setting.name, text.substr(equals + 1), forced);
  if (!forced) setting.value = guessedValue(text.substr(equals + 1));
  const std::string tooLong = settingTooLong(setting);
  if (!tooLong.empty()) throw usageError("--set " + setting.name.substr(0, 40) + ": " + tooLong);
  return setting;
}

std::string settingTooLong(const SettingValue& setting) {
  const auto* text = std::get_if<std::string>(&setting.value);
  const size_t longest = std::max(setting.name.size(), text ? text->size() : 0);
  if (longest <= kMaxSettingText) return "";
  return "a text of " + std::to_string(longest) + " characters, a camera takes at most " +
         std::to_string(kMaxSettingText);
}

std::string describeSetting(const SettingValue& setting) {
  struct Describe {
    std::string operator()(int value) const { return std::to_string(value) + " (int)"; }
    std::string operator()(bool value) const { return std::string(value ? "true" : "false") + " (bool)"; }
    std::string operator()(double value) const { return std::to_string(value) + " (double)"; }
    std::string operator()(const std::string& value) const { return "\"" + value + "\" (string)"; }
  };
  return setting.name + "=" + std::visit(Describe{}, setting.value);
}

void storeSettings(Talvo::IAsyncAdjuster& adjuster, const std::vector<SettingValue>& settings,
                   const std::function<void(const std::string&)>& note) {
  struct Store {
    Talvo::IAsyncAdjuster& adjuster;
    const char* name;
    void operator()(int value) const { adjuster.SetValue(name, value); }
    void operator()(bool value) const { adjuster.SetValue(name, value); }
    void operator()(double value) const { adjuster.SetValue(name, value); }
    void operator()(const std::string& value) const { adjuster.SetValue(name, value.c_str()); }
  };
  for (const auto& setting : settings) {
    note("setting " + describeSetting(setting));
    std::visit(Store{adjuster, setting.name.c_str()}, setting.value);
  }
}

}  // namespace qrmhost
