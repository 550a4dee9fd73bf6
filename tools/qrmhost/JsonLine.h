// Hand-written JSON for qrmhost's output lines: one object per line, keys in insertion order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrmhost {

// `text` as a quoted JSON string. Invalid UTF-8 bytes become U+FFFD so that the line stays
// valid JSON whatever a module hands over.
std::string jsonString(const std::string& text);

// A number as JSON; NaN and infinities become null. Doubles get two decimals.
std::string jsonNumber(double value);

// Builds one JSON array; values are added already encoded or through the typed helpers.
class JsonArray {
 public:
  JsonArray& addRaw(const std::string& json);
  JsonArray& add(const std::string& text) { return addRaw(jsonString(text)); }
  std::string str() const { return "[" + body_ + "]"; }

 private:
  std::string body_;
};

// Builds one JSON object.
class JsonObject {
 public:
  JsonObject& addRaw(const std::string& key, const std::string& json);
  JsonObject& add(const std::string& key, const std::string& text) { return addRaw(key, jsonString(text)); }
  JsonObject& add(const std::string& key, const char* text) { return add(key, std::string(text ? text : "")); }
  JsonObject& add(const std::string& key, bool value) { return addRaw(key, value ? "true" : "false"); }
  JsonObject& add(const std::string& key, int64_t value) { return addRaw(key, std::to_string(value)); }
  JsonObject& add(const std::string& key, uint64_t value) { return addRaw(key, std::to_string(value)); }
  JsonObject& add(const std::string& key, int value) { return add(key, static_cast<int64_t>(value)); }
  JsonObject& addDouble(const std::string& key, double value) { return addRaw(key, jsonNumber(value)); }
  JsonObject& add(const std::string& key, const JsonArray& array) { return addRaw(key, array.str()); }
  JsonObject& add(const std::string& key, const JsonObject& object) { return addRaw(key, object.str()); }
  std::string str() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

// An output line object: {"kind": kind, ...}.
inline JsonObject kindLine(const char* kind) { return JsonObject().add("kind", kind); }

}  // namespace qrmhost
