// The run of a fleet, shared by `fleet` (JSON lines only) and `serve` (the same fleet behind an
// HTTP server): the camera list read and checked, every channel created, then connected and
// started, health rounds until Ctrl-C or the deadline, then everything stopped and summed up.
#pragma once

#include <vector>

#include <CLI/CLI.hpp>

#include "FleetConfig.h"
#include "FleetHealth.h"
#include "host/GDRV.h"

namespace qrmhost {

class Host;

struct FleetOptions {
  std::string config;
  double seconds = 0;
  bool secondsGiven = false;
  double healthEvery = 5;
};

// What a command adds to a fleet's run. Main thread only.
class FleetExtension {
 public:
  virtual ~FleetExtension() = default;
  // Every camera's channels were created and checked; nothing was connected or started yet.
  // `devices[i]` is the device of `cameras[i]` (it lives until after finishing()), `channels[i]`
  // its live channels, in the order of its "live" list.
  virtual void prepared(const std::vector<FleetCamera>& cameras, const std::vector<Talvo::GDRV::IDevice*>& devices,
                        const std::vector<std::vector<ChannelHealth*>>& channels) = 0;
  // The cameras were connected and the live channels started.
  virtual void started() {}
  // The live channels were told to stop.
  virtual void stopping() {}
  // Every channel was stopped (or did not report Stopped in time); the extension ends what it
  // started (and destroys what it made of the devices) before the channels are destroyed.
  virtual void finishing() = 0;
};

// --config, --seconds and --health-every on `command`; the seconds option is returned (the
// command's callback sets `secondsGiven` from it).
CLI::Option* addFleetOptions(CLI::App& command, FleetOptions& options);

// Runs the fleet of `options`; the exit status. Throws ExitError for a bad camera list.
int runFleet(Host& host, const FleetOptions& options, FleetExtension* extension = nullptr);

}  // namespace qrmhost
