#include "Repository.h"

#include <fstream>
#include <map>
#include <sstream>

#include "ExitError.h"
#include "JsonReader.h"

namespace qrmhost {
namespace {

// The module refuses larger repositories; so does qrmhost, before reading them whole.
constexpr std::uintmax_t kMaxRepositorySize = 4u * 1024u * 1024u;

// Objects and arrays alike: an absent member or one of another type reads as empty.
const JsonValue& memberOrEmpty(const JsonValue& value, const std::string& key) {
  static const JsonValue empty;
  const JsonValue* member = value.find(key);
  return member ? *member : empty;
}

std::string stringOf(const JsonValue& value, const std::string& key) {
  const JsonValue* member = value.find(key);
  return member && member->type == JsonValue::Type::String ? member->text : std::string();
}

// An array of strings, or a single string standing for a one-element list.
std::vector<std::string> stringList(const JsonValue& value) {
  std::vector<std::string> values;
  if (value.type == JsonValue::Type::String) values.push_back(value.text);
  for (const auto& item : value.items)
    values.push_back(item.type == JsonValue::Type::String ? item.text : item.encoded());
  return values;
}

struct SharedTables {
  std::map<std::string, std::string> codecNames;                 // codec id -> name
  std::map<std::string, std::vector<std::string>> streamCodecs;  // stream description -> codec ids
  std::map<std::string, std::string> detectorTypes;              // detector id -> detection type
};

SharedTables readSharedTables(const JsonValue& root) {
  SharedTables tables;
  for (const auto& [id, codec] : memberOrEmpty(root, "codecs").members) {
    const std::string name = stringOf(codec, "name");
    tables.codecNames[id] = name.empty() ? id : name;
  }
  for (const auto& [description, codecs] : memberOrEmpty(root, "streams").members)
    tables.streamCodecs[description] = stringList(codecs);
  for (const auto& [id, detector] : memberOrEmpty(root, "detectors").members) {
    const std::string type = stringOf(memberOrEmpty(detector, "properties"), "detectionType");
    tables.detectorTypes[id] = type.empty() ? id : type;
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
std::string streamDescription(const JsonValue& stream) {
  return stream.type == JsonValue::Type::String ? stream.text : stringOf(stream, "description");
}

ModelSummary readSummary(const JsonValue& entry, const SharedTables& tables) {
  ModelSummary summary;
  for (const auto& channel : memberOrEmpty(entry, "video").items) {
    std::vector<std::vector<std::string>> streams;
    for (const auto& stream : memberOrEmpty(channel, "streams").items)
      streams.push_back(codecNamesOf(streamDescription(stream), tables));
    summary.videoChannels.push_back(std::move(streams));
  }
  summary.audioSources = memberOrEmpty(entry, "audio_sources").items.size();
  summary.audioDestinations = memberOrEmpty(entry, "audio_destinations").items.size();
  for (const auto& io : memberOrEmpty(entry, "io").items) summary.ioKinds.push_back(stringOf(io, "kind"));
  summary.telemetries = memberOrEmpty(entry, "telemetry").items.size();
  for (const auto& id : stringList(memberOrEmpty(entry, "detectors"))) {
    auto type = tables.detectorTypes.find(id);
    summary.detectors.push_back({id, type == tables.detectorTypes.end() ? id : type->second});
  }
  for (const auto& [name, value] : memberOrEmpty(entry, "properties").members)
    summary.properties.emplace_back(name, value.encoded());
  return summary;
}

std::vector<Talvo::GDRV::IdentityRecord> readIdentities(const JsonValue& entry) {
  std::vector<Talvo::GDRV::IdentityRecord> identities;
  for (const auto& identity : memberOrEmpty(entry, "identities").items) {
    Talvo::GDRV::IdentityRecord record;
    record.vendor = stringOf(identity, "vendor");
    record.model = stringOf(identity, "model");
    record.firmware = stringList(memberOrEmpty(identity, "firmware"));
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
  JsonValue root;
  try {
    root = parseJson(fileText(path));
  } catch (const JsonSyntaxError& error) {
    throw repositoryError(path, error.what());
  }
  const JsonValue* models = root.find("models");
  if (!models || models->type != JsonValue::Type::Array) throw repositoryError(path, "it has no \"models\" list");

  const SharedTables tables = readSharedTables(root);
  std::vector<RepositoryModel> result;
  for (const auto& entry : models->items) result.push_back({readIdentities(entry), readSummary(entry, tables)});
  return result;
}

}  // namespace qrmhost
