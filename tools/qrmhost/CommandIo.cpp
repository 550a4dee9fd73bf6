// `io --index I`: the inputs of an I/O channel as they change, and outputs switched on request.
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"
#include "ExitError.h"
#include "Handlers.h"
#include "Host.h"

namespace qrmhost {

namespace {

constexpr auto kStopDeadline = std::chrono::seconds(5);

// "K=on" or "K=off".
std::pair<int32_t, bool> parseOutput(const std::string& text) {
  const size_t equals = text.find('=');
  const std::string value = equals == std::string::npos ? "" : text.substr(equals + 1);
  if (equals == 0 || equals == std::string::npos || (value != "on" && value != "off") ||
      text.find_first_not_of("0123456789") != equals)
    throw usageError("--output wants K=on or K=off, not '" + text + "'");
  return {std::stoi(text.substr(0, equals)), value == "on"};
}

int runIo(Host& host, uint32_t index, double seconds, const std::vector<std::string>& outputTexts) {
  std::vector<std::pair<int32_t, bool>> outputs;
  for (const auto& text : outputTexts) outputs.push_back(parseOutput(text));
  auto& tally = host.keep<LiveTally>(host.stopRequest(), 0);
  auto& deviceReporter = host.keep<DeviceReporter>(host.console());
  auto& reporter = host.keep<IOReporter>(host.console(), tally);
  auto device = host.createDevice(deviceReporter);
  host.logger().log(1, "connecting to " + host.camera().display() + " as " + host.options().model);
  device->Connect(host.options().camera->c_str());
  ModuleObject<Talvo::GDRV::IIODevice> io(device->CreateIODevice(&reporter, index));
  if (!io)
    throw ExitError(kExitUsage,
                    "the module has no I/O channel " + std::to_string(index) + " for " + host.options().model);
  const auto started = Clock::now();
  io->Start();
  for (const auto& [output, active] : outputs) {
    reporter.expectOutput(output);
    io->SetOutput(&reporter, output, active);
  }
  host.stopRequest().waitUntil(started +
                               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
  reporter.waitOutputs(Clock::now() + kStopDeadline);
  io->Stop();
  if (!reporter.events().waitStopped(Clock::now() + kStopDeadline))
    host.console().message("qrmhost: the I/O channel did not report Stopped within 5 s");
  io.reset();
  device.reset();
  return kExitOk;
}

}  // namespace

void declareIo(CLI::App& app, CommandRun& chosen) {
  auto* command = app.add_subcommand(
      "io",
      "Connects (needs --camera URL --model M), starts I/O channel I and prints {\"kind\":\"started\"},\n"
      "{\"kind\":\"input\",\"index\":N,\"active\":B,\"time\":MS} per input change (each input once at the\n"
      "start and after a failure), {\"kind\":\"output\",\"index\":N,\"code\":C} per --output,\n"
      "{\"kind\":\"failed\",\"code\":C} and {\"kind\":\"stopped\"}. Stops after N seconds or at Ctrl-C.\n"
      "The classic serial-line channel (kind iodev_3x1) is offered; other kinds are not yet.");
  auto index = std::make_shared<uint32_t>(0);
  auto seconds = std::make_shared<double>(5.0);
  auto outputs = std::make_shared<std::vector<std::string>>();
  command->add_option("--index", *index, "the I/O channel (default 0)")->type_name("I");
  addSecondsOption(*command, *seconds, "how long to watch the inputs (default 5, may be a fraction)");
  command->add_option("--output", *outputs, "switch output K on or off after the start, in the order given")
      ->type_name("K=on|off");
  command->callback([&chosen, index, seconds, outputs] {
    chosen = [index, seconds, outputs](Host& host) { return runIo(host, *index, *seconds, *outputs); };
  });
}

}  // namespace qrmhost
