// A --set NAME=VALUE argument of `live`, typed the way the video source's adjuster takes it.
#pragma once

#include <string>
#include <variant>

namespace qrmhost {

struct SettingValue {
  std::string name;
  std::variant<int, bool, double, std::string> value;
};

// Reads "NAME=VALUE". Without a suffix VALUE is an int if it reads as one, then true/false as a
// bool, then a decimal number as a double, else a string. A ":int", ":bool", ":double" or
// ":string" suffix on VALUE forces the type. Throws ExitError (status 2) when the text is
// malformed or a forced value does not fit its type.
SettingValue parseSetting(const std::string& text);

// "name=value (type)" for notices.
std::string describeSetting(const SettingValue& setting);

}  // namespace qrmhost
