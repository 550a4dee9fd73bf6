#include "Repository.h"

#include <fstream>
#include <map>
#include <sstream>

#include "ExitError.h"

namespace qrmhost {
namespace {

// The module refuses larger repositories; so does qrmhost, before reading them whole.
constexpr std::uintmax_t kMaxRepositorySize = 4u * 1024u * 1024u;

using Json = nlohmann::ordered_json;

const Json& emptyJson() {
  static const Json empty;
  return empty;
}

// The member `key` of an object; null when absent or when `value` is no object.
const Json& memberOrNull(const Json& value, const std::string& key) {
  if (!value.is_object()) return emptyJson();
  const auto member = value.find(key);
  return member == value.end() ? emptyJson() : *member;
}

// The elements of an array; none for any other value.
const Json& arrayOrEmpty(const Json& value) {
  static const Json empty = Json::array();
  return value.is_array() ? value : empty;
}

// The members of an object (key(), value()); none for any other value.
auto membersOf(const Json& value) { return (value.is_object() ? value : emptyJson()).items(); }

std::string stringOf(const Json& value, const std::string& key) {
  const Json& member = memberOrNull(value, key);
  return member.is_string() ? member.get<std::string>() : std::string();
}

// An array of strings, or a single string standing for a one-element list.
std::vector<std::string> stringList(const Json& value) {
  std::vector<std::string> values;
  if (value.is_string()) values.push_back(value.get<std::string>());
  for (const auto& item : arrayOrEmpty(value))
    values.push_back(item.is_string() ? item.get<std::string>() : item.dump());
  return values;
}

struct SharedTables {
  std::map<std::string, std::string> codecNames;                 // codec id -> name
  std::map<std::string, std::vector<std::string>> streamCodecs;  // stream description -> codec ids
  std::map<std::string, std::string> detectorTypes;              // detector id -> detection type
};

SharedTables readSharedTables(const Json& root) {
  SharedTables tables;
  for (const auto& codec : membersOf(memberOrNull(root, "codecs"))) {
    const std::string name = stringOf(codec.value(), "name");
    tables.codecNames[codec.key()] = name.empty() ? codec.key() : name;
  }
  for (const auto& stream : membersOf(memberOrNull(root, "streams")))
    tables.streamCodecs[stream.key()] = stringList(stream.value());
  for (const auto& detector : membersOf(memberOrNull(root, "detectors"))) {
    const std::string type = stringOf(memberOrNull(detector.value(), "properties"), "detectionType");
    tables.detectorTypes[detector.key()] = type.empty() ? detector.key() : type;
  }
  return tables;
}

// The codec names of one stream description, in order; an id the table lacks stands as itself.
std::vector<std::string> codecNamesOf(const std::string& description, const SharedTables& tables) {
  std::vector<std::string> names;
  auto stream = tables.streamCodecs.find(description);
  if (stream == tables.streamCodecs.end()) return names;
  for (const auto& id : stream->second) {
    auto codec = tables.codecNames.find(id);
    names.push_back(codec == tables.codecNames.end() ? id : codec->second);
  }
  return names;
}

// A stream is {"description": ..., "settings": ...}; a bare string names the description alone.
std::string streamDescription(const Json& stream) {
  return stream.is_string() ? stream.get<std::string>() : stringOf(stream, "description");
}

// A number setting of `settings`; 0 when absent or no number.
double numberOf(const Json& settings, const std::string& key) {
  const Json& member = memberOrNull(settings, key);
  return member.is_number() ? member.get<double>() : 0.0;
}

ModelSummary readSummary(const Json& entry, const SharedTables& tables) {
  ModelSummary summary;
  for (const auto& channel : arrayOrEmpty(memberOrNull(entry, "video"))) {
    std::vector<std::vector<std::string>> streams;
    std::vector<double> fps;
    const bool cameraRate = numberOf(memberOrNull(channel, "parameters"), "useMaxFpsAsCameraSetting") > 0;
    const double channelFps = numberOf(memberOrNull(channel, "settings"), "fps");
    for (const auto& stream : arrayOrEmpty(memberOrNull(channel, "streams"))) {
      streams.push_back(codecNamesOf(streamDescription(stream), tables));
      const double streamFps = numberOf(memberOrNull(stream, "settings"), "fps");
      fps.push_back(cameraRate ? 0.0 : streamFps > 0 ? streamFps : channelFps);
    }
    summary.videoChannels.push_back(std::move(streams));
    summary.defaultFps.push_back(std::move(fps));
  }
  summary.audioSources = arrayOrEmpty(memberOrNull(entry, "audio_sources")).size();
  summary.audioDestinations = arrayOrEmpty(memberOrNull(entry, "audio_destinations")).size();
  for (const auto& io : arrayOrEmpty(memberOrNull(entry, "io"))) summary.ioKinds.push_back(stringOf(io, "kind"));
  summary.telemetries = arrayOrEmpty(memberOrNull(entry, "telemetry")).size();
  for (const auto& id : stringList(memberOrNull(entry, "detectors"))) {
    auto type = tables.detectorTypes.find(id);
    summary.detectors.push_back({id, type == tables.detectorTypes.end() ? id : type->second});
  }
  for (const auto& property : membersOf(memberOrNull(entry, "properties")))
    summary.properties.emplace_back(property.key(), property.value());
  return summary;
}

std::vector<Talvo::GDRV::IdentityRecord> readIdentities(const Json& entry) {
  std::vector<Talvo::GDRV::IdentityRecord> identities;
  for (const auto& identity : arrayOrEmpty(memberOrNull(entry, "identities"))) {
    Talvo::GDRV::IdentityRecord record;
    record.vendor = stringOf(identity, "vendor");
    record.model = stringOf(identity, "model");
    record.firmware = stringList(memberOrNull(identity, "firmware"));
    identities.push_back(std::move(record));
  }
  return identities;
}

ExitError repositoryError(const std::filesystem::path& path, const std::string& reason) {
  return ExitError(kExitUsage, "cannot read repository " + path.string() + ": " + reason);
}

std::string fileText(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) throw repositoryError(path, error.message());
  if (size > kMaxRepositorySize) throw repositoryError(path, "larger than 4 MiB");
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  if (!file) throw repositoryError(path, "cannot read the file");
  return text.str();
}

}  // namespace

std::vector<RepositoryModel> readRepository(const std::filesystem::path& path) {
  Json root;
  try {
    root = Json::parse(fileText(path));
  } catch (const Json::parse_error& error) {
    // nlohmann's text is "[json.exception...] parse error at line L, column C: <what>".
    const std::string what = error.what();
    throw repositoryError(path, what.substr(what.find("] ") + 2));
  }
  const Json& models = memberOrNull(root, "models");
  if (!models.is_array()) throw repositoryError(path, "it has no \"models\" list");

  const SharedTables tables = readSharedTables(root);
  std::vector<RepositoryModel> result;
  for (const auto& entry : models) result.push_back({readIdentities(entry), readSummary(entry, tables)});
  return result;
}

}  // namespace qrmhost
