#include "FleetConfig.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>

#include <nlohmann/json.hpp>

#include "ExitError.h"
#include "host/Nuvlet/Connection.h"

namespace qrmhost {
namespace {

using Json = nlohmann::json;

// A mistake in one entry; the reader adds which entry.
struct EntryError {
  std::string what;
};

uint32_t wholeNumber(const Json& object, const char* key, uint32_t fallback, const std::string& where) {
  const auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (!it->is_number_unsigned() || it->get<uint64_t>() > std::numeric_limits<uint32_t>::max())
    throw EntryError{where + "'" + key + "' must be a whole number from 0"};
  return it->get<uint32_t>();
}

std::string text(const Json& object, const char* key, bool required, const std::string& fallback = {}) {
  const auto it = object.find(key);
  if (it == object.end()) {
    if (required) throw EntryError{std::string("'") + key + "' is missing"};
    return fallback;
  }
  if (!it->is_string()) throw EntryError{std::string("'") + key + "' must be a text"};
  return it->get<std::string>();
}

// {"fps":25,"on":true,"gain":1.5,"mode":"day"}: each value with the type JSON gives it.
std::vector<SettingValue> readSettings(const Json& settings, const std::string& where) {
  if (!settings.is_object()) throw EntryError{where + "'settings' must be an object"};
  std::vector<SettingValue> values;
  for (const auto& member : settings.items()) {
    const Json& value = member.value();
    SettingValue setting{member.key(), 0};
    if (value.is_boolean())
      setting.value = value.get<bool>();
    else if (value.is_number_integer() && value.get<int64_t>() >= std::numeric_limits<int>::min() &&
             value.get<int64_t>() <= std::numeric_limits<int>::max())
      setting.value = value.get<int>();
    else if (value.is_number_float())
      setting.value = value.get<double>();
    else if (value.is_string())
      setting.value = value.get<std::string>();
    else
      throw EntryError{where + "setting '" + member.key() + "' must be a number, true/false or a text"};
    const std::string tooLong = settingTooLong(setting);
    if (!tooLong.empty()) throw EntryError{where + "setting '" + member.key().substr(0, 40) + "': " + tooLong};
    values.push_back(std::move(setting));
  }
  return values;
}

std::vector<FleetChannel> readLive(const Json& entry) {
  const auto it = entry.find("live");
  if (it == entry.end()) throw EntryError{"'live' is missing"};
  if (!it->is_array() || it->empty()) throw EntryError{"'live' must be a list of channels"};
  std::vector<FleetChannel> channels;
  std::set<std::pair<uint32_t, uint32_t>> seen;
  for (size_t i = 0; i < it->size(); ++i) {
    const Json& item = (*it)[i];
    const std::string where = "live[" + std::to_string(i) + "]: ";
    if (!item.is_object()) throw EntryError{where + "must be an object"};
    for (const auto& member : item.items())
      if (member.key() != "channel" && member.key() != "stream" && member.key() != "audio" &&
          member.key() != "settings")
        throw EntryError{where + "unknown key '" + member.key() + "'"};
    FleetChannel channel;
    channel.channel = wholeNumber(item, "channel", 0, where);
    channel.stream = wholeNumber(item, "stream", 0, where);
    if (const auto audio = item.find("audio"); audio != item.end()) {
      if (!audio->is_boolean()) throw EntryError{where + "'audio' must be true or false"};
      channel.audio = audio->get<bool>();
    }
    if (const auto settings = item.find("settings"); settings != item.end())
      channel.settings = readSettings(*settings, where);
    if (!seen.emplace(channel.channel, channel.stream).second)
      throw EntryError{where + "channel " + std::to_string(channel.channel) + " stream " +
                       std::to_string(channel.stream) + " is listed twice"};
    channels.push_back(channel);
  }
  return channels;
}

// An optional list of channel numbers, each listed once.
std::vector<uint32_t> readIndexes(const Json& entry, const std::string& key) {
  const auto it = entry.find(key);
  if (it == entry.end()) return {};
  std::vector<uint32_t> indexes;
  if (!it->is_array()) throw EntryError{"'" + key + "' must be a list of channel numbers"};
  for (const auto& item : *it) {
    if (!item.is_number_unsigned() || item.get<uint64_t>() > 0xFFFFFFFFu)
      throw EntryError{"'" + key + "' must be a list of channel numbers"};
    if (std::find(indexes.begin(), indexes.end(), item.get<uint32_t>()) != indexes.end())
      throw EntryError{"'" + key + "': channel " + item.dump() + " is listed twice"};
    indexes.push_back(item.get<uint32_t>());
  }
  return indexes;
}

// "detectors" or "thermal": [{"channel":C,"detector":D}, ...].
std::vector<FleetDetector> readDetectors(const Json& entry, const std::string& key) {
  const auto it = entry.find(key);
  if (it == entry.end()) return {};
  if (!it->is_array()) throw EntryError{"'" + key + "' must be a list of {\"channel\":C,\"detector\":D}"};
  std::vector<FleetDetector> detectors;
  for (size_t i = 0; i < it->size(); ++i) {
    const Json& item = (*it)[i];
    const std::string where = key + "[" + std::to_string(i) + "]: ";
    if (!item.is_object()) throw EntryError{where + "must be an object"};
    for (const auto& member : item.items())
      if (member.key() != "channel" && member.key() != "detector")
        throw EntryError{where + "unknown key '" + member.key() + "'"};
    FleetDetector detector{wholeNumber(item, "channel", 0, where), text(item, "detector", true)};
    if (detector.detector.empty()) throw EntryError{where + "'detector' is empty"};
    for (const auto& other : detectors)
      if (other.channel == detector.channel && other.detector == detector.detector)
        throw EntryError{where + "is listed twice"};
    detectors.push_back(std::move(detector));
  }
  return detectors;
}

FleetCamera readEntry(const Json& entry, std::string& name) {
  if (!entry.is_object()) throw EntryError{"must be an object"};
  FleetCamera camera;
  camera.connection = text(entry, "camera", true);
  try {
    name = camera.name = Talvo::asio::parseConnectionInfo(camera.connection).hostAndPort();
  } catch (const Talvo::asio::ConnectionTextError& error) {
    // The parser's text names the fault, never the connection text.
    throw EntryError{std::string("'camera': ") + error.what()};
  }
  for (const auto& member : entry.items()) {
    static const std::set<std::string> known{"camera",    "model", "vendor",   "firmware",
                                             "live",      "telemetry", "io",       "detectors", "thermal"};
    if (!known.count(member.key())) throw EntryError{"unknown key '" + member.key() + "'"};
  }
  camera.model = text(entry, "model", true);
  if (camera.model.empty()) throw EntryError{"'model' is empty"};
  camera.vendor = text(entry, "vendor", false, camera.vendor);
  camera.firmware = text(entry, "firmware", false);
  camera.live = readLive(entry);
  camera.telemetry = readIndexes(entry, "telemetry");
  camera.io = readIndexes(entry, "io");
  camera.detectors = readDetectors(entry, "detectors");
  camera.thermal = readDetectors(entry, "thermal");
  return camera;
}

}  // namespace

std::vector<FleetCamera> parseFleetConfig(const std::string& content, const std::string& file) {
  const std::string prefix = "--config " + file + ": ";
  Json document;
  try {
    document = Json::parse(content);
  } catch (const Json::parse_error& error) {
    throw usageError(prefix + "not JSON (byte " + std::to_string(error.byte) + ")");
  }
  if (!document.is_array() || document.empty()) throw usageError(prefix + "a list of cameras expected");
  std::vector<FleetCamera> cameras;
  std::set<std::string> names;
  for (size_t i = 0; i < document.size(); ++i) {
    std::string name;
    try {
      cameras.push_back(readEntry(document[i], name));
      if (!names.insert(name).second) throw EntryError{"the camera is listed twice"};
    } catch (const EntryError& error) {
      const std::string label = name.empty() ? "" : " (" + name + ")";
      throw usageError(prefix + "entry " + std::to_string(i + 1) + label + ": " + error.what);
    }
  }
  return cameras;
}

std::vector<FleetCamera> readFleetConfig(const std::filesystem::path& file) {
  std::error_code error;
  if (std::filesystem::is_directory(file, error)) throw usageError("--config " + file.string() + ": is a folder");
  std::ifstream in(file, std::ios::binary);
  if (!in) throw usageError("--config " + file.string() + ": cannot be read");
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return parseFleetConfig(content, file.string());
}

}  // namespace qrmhost
