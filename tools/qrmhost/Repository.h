// The module's model repository (the JSON file beside the module, see docs/repository.md), read
// for `models`. Only what `models` shows is kept; the module reads the file for everything else.
// qrmhost is lenient where the module is strict: it shows what is there and leaves judging the
// file to the module.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/DriverInfo.h"

namespace qrmhost {

struct DetectorSummary {
  std::string id;
  std::string type;  // the detector's "detectionType" property, else its identifier
};

// What a model entry offers, for `models --details`.
struct ModelSummary {
  // Per video channel, per stream, the stream's codec names in order.
  std::vector<std::vector<std::vector<std::string>>> videoChannels;
  // Per video channel, per stream: the pictures per second the module asks for by default (the
  // stream's "fps" setting over the channel's); 0 when none is set or the channel asks for the
  // camera's own rate (parameter "useMaxFpsAsCameraSetting").
  std::vector<std::vector<double>> defaultFps;
  size_t audioSources = 0;
  size_t audioDestinations = 0;
  std::vector<std::string> ioKinds;
  size_t telemetries = 0;
  std::vector<DetectorSummary> detectors;
  std::vector<std::pair<std::string, nlohmann::ordered_json>> properties;  // name, value (2 and "2" differ)
};

struct RepositoryModel {
  std::vector<Talvo::GDRV::IdentityRecord> identities;
  ModelSummary summary;
};

// Reads the repository; throws ExitError (status 2) naming the file and the reason when it
// cannot be read or has no "models" list. Unknown fields are ignored.
std::vector<RepositoryModel> readRepository(const std::filesystem::path& path);

}  // namespace qrmhost
