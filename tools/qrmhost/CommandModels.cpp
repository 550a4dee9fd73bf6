// `models [--details]`: the module's repository, one line per identity record.
#include "Commands.h"
#include "Host.h"
#include "Repository.h"
#include "ExitError.h"

namespace qrmhost {
namespace {

JsonArray stringArray(const std::vector<std::string>& values) {
  JsonArray array;
  for (const auto& value : values) array.add(value);
  return array;
}

JsonArray videoChannelsJson(const ModelSummary& summary) {
  JsonArray channels;
  for (const auto& channel : summary.videoChannels) {
    JsonArray streams;
    for (const auto& codecs : channel) streams.addRaw(stringArray(codecs).str());
    channels.addRaw(JsonObject().add("streams", streams).str());
  }
  return channels;
}

JsonArray detectorsJson(const ModelSummary& summary) {
  JsonArray detectors;
  for (const auto& detector : summary.detectors)
    detectors.addRaw(JsonObject().add("id", detector.id).add("type", detector.type).str());
  return detectors;
}

JsonArray propertiesJson(const ModelSummary& summary) {
  JsonArray properties;
  for (const auto& [name, value] : summary.properties)
    properties.addRaw(JsonObject().add("name", name).addRaw("value", value).str());
  return properties;
}

void addDetails(JsonObject& line, const ModelSummary& summary) {
  line.add("video", videoChannelsJson(summary))
      .add("audio_sources", static_cast<uint64_t>(summary.audioSources))
      .add("audio_destinations", static_cast<uint64_t>(summary.audioDestinations))
      .add("io", stringArray(summary.ioKinds))
      .add("telemetry", static_cast<uint64_t>(summary.telemetries))
      .add("detectors", detectorsJson(summary))
      .add("properties", propertiesJson(summary));
}

}  // namespace

int runModels(Host& host, const CommandOptions& options) {
  // Loaded although only its file is read: a module that will not start should be noticed here.
  const LoadedModule& module = host.module();
  const auto models = readRepository(repositoryPathOf(module.path()));
  const bool details = options.has("details");
  for (const auto& model : models) {
    for (const auto& identity : model.identities) {
      auto line = kindLine("model")
                      .add("vendor", identity.vendor)
                      .add("model", identity.model)
                      .add("firmware", stringArray(identity.firmware));
      if (details) addDetails(line, model.summary);
      host.console().report(line);
    }
  }
  return kExitOk;
}

}  // namespace qrmhost
