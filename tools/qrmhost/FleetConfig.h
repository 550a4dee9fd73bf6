// The camera list of `qrmhost fleet`: a JSON file
//   [{"camera":URL,"model":M,["vendor":V,]["firmware":F,]
//     "live":[{"channel":C,"stream":S,"audio":B,"settings":{NAME:VALUE,...}}],
//     ["telemetry":[I,...],]["io":[I,...],]["detectors":[{"channel":C,"detector":D},...],]
//     ["thermal":[{"channel":C,"detector":D},...]]}, ...]
// read and checked whole before anything starts. A mistake names its entry (from 1) and the
// camera by host:port, never by the connection text: that carries the password.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "SettingValue.h"

namespace qrmhost {

struct FleetChannel {
  uint32_t channel = 0;
  uint32_t stream = 0;
  bool audio = false;
  std::vector<SettingValue> settings;  // applied to the video source after Start
};

struct FleetDetector {
  uint32_t channel = 0;
  std::string detector;
};

struct FleetCamera {
  std::string connection;  // as written: handed to the module's Connect
  std::string name;        // "host:port", what every output line shows
  std::string vendor = "Vantrel";
  std::string model;
  std::string firmware;
  std::vector<FleetChannel> live;
  // What `serve` adds to the live channels (`fleet` leaves them alone).
  std::vector<uint32_t> telemetry;  // PTZ by click
  std::vector<uint32_t> io;         // inputs as events, outputs switched
  std::vector<FleetDetector> detectors;
  std::vector<FleetDetector> thermal;  // temperatures detectors: heat maps
};

// Throws ExitError (status 2) with "--config FILE: entry N (host:port): what is wrong".
std::vector<FleetCamera> readFleetConfig(const std::filesystem::path& file);
// The same, from the file's text; `file` only names it in messages.
std::vector<FleetCamera> parseFleetConfig(const std::string& text, const std::string& file);

}  // namespace qrmhost
