#include "Repository.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <map>
#include <sstream>

#include "ExitError.h"

namespace qrmhost {
namespace {

using boost::property_tree::ptree;

// JSON arrays and objects are both child lists in a ptree; an absent key reads as empty.
const ptree& childOrEmpty(const ptree& tree, const std::string& key) {
  static const ptree empty;
  auto child = tree.get_child_optional(key);
  return child ? *child : empty;
}

// A list of strings, or a single string standing for a one-element list.
std::vector<std::string> stringList(const ptree& node) {
  std::vector<std::string> values;
  if (node.empty()) {
    if (!node.data().empty()) values.push_back(node.data());
    return values;
  }
  for (const auto& item : node) values.push_back(item.second.data());
  return values;
}

// A value as text: a scalar as it was written, an object or array as compact JSON.
std::string valueText(const ptree& node) {
  if (node.empty()) return node.data();
  std::ostringstream json;
  boost::property_tree::write_json(json, node, false);
  std::string text = json.str();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

using CodecNames = std::map<std::string, std::string>;             // codec id -> name
using StreamCodecs = std::map<std::string, std::vector<std::string>>;  // stream description -> codec ids

CodecNames readCodecNames(const ptree& root) {
  CodecNames names;
  for (const auto& codec : childOrEmpty(root, "codecs")) names[codec.first] = codec.second.get("name", codec.first);
  return names;
}

StreamCodecs readStreamCodecs(const ptree& root) {
  StreamCodecs streams;
  for (const auto& stream : childOrEmpty(root, "streams")) streams[stream.first] = stringList(stream.second);
  return streams;
}

std::map<std::string, std::string> readDetectorTypes(const ptree& root) {
  std::map<std::string, std::string> types;
  for (const auto& detector : childOrEmpty(root, "detectors"))
    types[detector.first] = detector.second.get("properties.detectionType", detector.first);
  return types;
}

struct SharedTables {
  CodecNames codecNames;
  StreamCodecs streamCodecs;
  std::map<std::string, std::string> detectorTypes;
};

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
std::string streamDescription(const ptree& stream) {
  return stream.empty() ? stream.data() : stream.get("description", "");
}

ModelSummary readSummary(const ptree& entry, const SharedTables& tables) {
  ModelSummary summary;
  for (const auto& channel : childOrEmpty(entry, "video")) {
    std::vector<std::vector<std::string>> streams;
    for (const auto& stream : childOrEmpty(channel.second, "streams"))
      streams.push_back(codecNamesOf(streamDescription(stream.second), tables));
    summary.videoChannels.push_back(std::move(streams));
  }
  summary.audioSources = childOrEmpty(entry, "audio_sources").size();
  summary.audioDestinations = childOrEmpty(entry, "audio_destinations").size();
  for (const auto& io : childOrEmpty(entry, "io")) summary.ioKinds.push_back(io.second.get("kind", ""));
  summary.telemetries = childOrEmpty(entry, "telemetry").size();
  for (const auto& id : stringList(childOrEmpty(entry, "detectors"))) {
    auto type = tables.detectorTypes.find(id);
    summary.detectors.push_back({id, type == tables.detectorTypes.end() ? id : type->second});
  }
  for (const auto& property : childOrEmpty(entry, "properties"))
    summary.properties.emplace_back(property.first, valueText(property.second));
  return summary;
}

std::vector<Talvo::GDRV::IdentityRecord> readIdentities(const ptree& entry) {
  std::vector<Talvo::GDRV::IdentityRecord> identities;
  for (const auto& identity : childOrEmpty(entry, "identities")) {
    Talvo::GDRV::IdentityRecord record;
    record.vendor = identity.second.get("vendor", "");
    record.model = identity.second.get("model", "");
    record.firmware = stringList(childOrEmpty(identity.second, "firmware"));
    identities.push_back(std::move(record));
  }
  return identities;
}

ptree parseFile(const std::filesystem::path& path) {
  ptree root;
  try {
    boost::property_tree::read_json(path.string(), root);
  } catch (const boost::property_tree::json_parser_error& error) {
    const std::string where = error.line() ? " (line " + std::to_string(error.line()) + ")" : "";
    throw ExitError(kExitUsage, "cannot read repository " + path.string() + ": " + error.message() + where);
  }
  return root;
}

}  // namespace

std::vector<RepositoryModel> readRepository(const std::filesystem::path& path) {
  const ptree root = parseFile(path);
  auto models = root.get_child_optional("models");
  if (!models) throw ExitError(kExitUsage, "cannot read repository " + path.string() + ": it has no \"models\" list");

  const SharedTables tables{readCodecNames(root), readStreamCodecs(root), readDetectorTypes(root)};
  std::vector<RepositoryModel> result;
  for (const auto& entry : *models) result.push_back({readIdentities(entry.second), readSummary(entry.second, tables)});
  return result;
}

}  // namespace qrmhost
