// `device [--seconds N]`: connect a camera and report its connection states.
#include <chrono>
#include <memory>

#include "Commands.h"
#include "ExitError.h"
#include "Handlers.h"
#include "Host.h"

namespace qrmhost {

namespace {

int runDevice(Host& host, double seconds) {
  const auto duration = std::chrono::duration<double>(seconds);
  const auto camera = host.camera();

  auto& reporter = host.keep<DeviceReporter>(host.console());
  auto device = host.createDevice(reporter);
  host.connect(*device);

  host.stopRequest().waitUntil(Clock::now() + std::chrono::duration_cast<Clock::duration>(duration));
  device.reset();  // Disconnect, then Destroy
  return cameraOutcome(reporter.everConnected());
}

}  // namespace

void declareDevice(CLI::App& app, CommandRun& chosen) {
  auto* command =
      app.add_subcommand("device",
                         "Creates the device (needs --camera URL --model M), connects it and prints every\n"
                         "connection state it reports:\n"
                         "{\"kind\":\"device\",\"state\":\"connected\"|\"disconnected\"|\"failed\",\"code\":N}.\n"
                         "Disconnects after N seconds or at Ctrl-C.");
  auto seconds = std::make_shared<double>(5.0);
  addSecondsOption(*command, *seconds, "how long to stay connected (default 5, may be a fraction)");
  command->callback([&chosen, seconds] { chosen = [seconds](Host& host) { return runDevice(host, *seconds); }; });
}

}  // namespace qrmhost
