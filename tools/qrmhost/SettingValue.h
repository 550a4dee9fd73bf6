// A --set NAME=VALUE argument of `live`, typed the way the video source's adjuster takes it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "host/Contract.h"

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

// The longest text (a setting's name or text value) qrmhost hands on: a camera takes a setting in
// one request line, and none takes lines that long.
constexpr size_t kMaxSettingText = 1024;

// Why `setting` is refused ("a text of N characters, a camera takes at most 1024"), or "".
std::string settingTooLong(const SettingValue& setting);

// "name=value (type)" for notices.
std::string describeSetting(const SettingValue& setting);

// Stores each setting in the adjuster with the SetValue of its type, telling `note` about each
// first ("setting name=value (type)"). Main thread, no lock held.
void storeSettings(Talvo::IAsyncAdjuster& adjuster, const std::vector<SettingValue>& settings,
                   const std::function<void(const std::string&)>& note);

}  // namespace qrmhost
