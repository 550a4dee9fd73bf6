// `models [--details]`: the module's repository, one line per identity record.
#include "Commands.h"
#include "Host.h"
#include "Repository.h"
#include "ExitError.h"

#include <memory>

namespace qrmhost {
namespace {

JsonObject videoChannelsJson(const ModelSummary& summary) {
  auto channels = JsonObject::array();
  for (const auto& streams : summary.videoChannels) channels.push_back({{"streams", streams}});
  return channels;
}

JsonObject detectorsJson(const ModelSummary& summary) {
  auto detectors = JsonObject::array();
  for (const auto& detector : summary.detectors) detectors.push_back({{"id", detector.id}, {"type", detector.type}});
  return detectors;
}

JsonObject propertiesJson(const ModelSummary& summary) {
  auto properties = JsonObject::array();
  for (const auto& [name, value] : summary.properties) properties.push_back({{"name", name}, {"value", value}});
  return properties;
}

void addDetails(JsonObject& line, const ModelSummary& summary) {
  line["video"] = videoChannelsJson(summary);
  line["audio_sources"] = summary.audioSources;
  line["audio_destinations"] = summary.audioDestinations;
  line["io"] = summary.ioKinds;
  line["telemetry"] = summary.telemetries;
  line["detectors"] = detectorsJson(summary);
  line["properties"] = propertiesJson(summary);
}

int runModels(Host& host, bool details) {
  // Loaded although only its file is read: a module that will not start should be noticed here.
  const LoadedModule& module = host.module();
  const auto models = readRepository(repositoryPathOf(module.path()));
  for (const auto& model : models) {
    for (const auto& identity : model.identities) {
      auto line = kindLine("model");
      line["vendor"] = identity.vendor;
      line["model"] = identity.model;
      line["firmware"] = identity.firmware;
      if (details) addDetails(line, model.summary);
      host.console().report(line);
    }
  }
  return kExitOk;
}

}  // namespace

void declareModels(CLI::App& app, CommandRun& chosen) {
  auto* command = app.add_subcommand("models",
                                     "Lists the models of the module's repository (the .rep file beside the module),\n"
                                     "one line per identity:\n"
                                     "{\"kind\":\"model\",\"vendor\":...,\"model\":...,\"firmware\":[...]}.");
  auto details = std::make_shared<bool>(false);
  command->add_flag("--details", *details, "add the model's channels, detectors and properties to each line");
  command->callback([&chosen, details] { chosen = [details](Host& host) { return runModels(host, *details); }; });
}

}  // namespace qrmhost
