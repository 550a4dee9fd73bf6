// `io --index I`: the inputs of an I/O channel as they change, and outputs switched on request.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"
#include "ExitError.h"
#include "Handlers.h"
#include "Host.h"
#include "ModuleLoader.h"
#include "Repository.h"

namespace qrmhost {

namespace {

constexpr auto kStopDeadline = std::chrono::seconds(5);
const char kClassicKind[] = "iodev_3x1";  // the camera's own signal lines: no stream needed

// "K=on" or "K=off".
std::pair<int32_t, bool> parseOutput(const std::string& text) {
  const size_t equals = text.find('=');
  const std::string value = equals == std::string::npos ? "" : text.substr(equals + 1);
  if (equals == 0 || equals == std::string::npos || (value != "on" && value != "off") ||
      text.find_first_not_of("0123456789") != equals)
    throw usageError("--output wants K=on or K=off, not '" + text + "'");
  return {std::stoi(text.substr(0, equals)), value == "on"};
}

// The live stream that runs beside a profile-based board, as a host's would: the board learns
// its inputs from the stream's event sections. Its pictures are dropped unseen.
class BackgroundStream : public Talvo::GDRV::IVideoSourceHandler {
 public:
  explicit BackgroundStream(HostLogger& logger) : logger_(logger) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    if (Talvo::isContractName<Talvo::GDRV::IVideoSourceHandler>(typeName) ||
        Talvo::isContractName<Talvo::GDRV::IAsyncDeviceChannelHandler>(typeName) ||
        Talvo::isContractName<Talvo::IContract>(typeName))
      return this;
    return nullptr;
  }
  void Failed(Talvo::IContract*, int32_t code) override {
    logger_.log(1, "the background stream failed with code " + std::to_string(code));
  }
  void Started(Talvo::IContract*) override {}
  void Stopped(Talvo::IContract*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    stoppedChanged_.notify_all();
  }
  void StatisticUpdated(Talvo::IContract*, const char*, const char*) override {}
  void MultimediaFrame(Talvo::IContract*, Talvo::MFF::ICompressedBuffer* buffer) override {
    if (buffer) buffer->Destroy();
  }
  bool waitStopped(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    return stoppedChanged_.wait_until(lock, deadline, [this] { return stopped_; });
  }

 private:
  HostLogger& logger_;
  std::mutex mutex_;
  std::condition_variable stoppedChanged_;
  bool stopped_ = false;
};

// The repository's kind of I/O channel `index` of the chosen model; empty when unknown.
std::string ioKindOf(Host& host, uint32_t index) {
  for (const auto& model : readRepository(repositoryPathOf(host.module().path())))
    for (const auto& identity : model.identities)
      if (identity.model == host.options().model && index < model.summary.ioKinds.size())
        return model.summary.ioKinds[index];
  return std::string();
}

int runIo(Host& host, uint32_t index, double seconds, const std::vector<std::string>& outputTexts) {
  std::vector<std::pair<int32_t, bool>> outputs;
  for (const auto& text : outputTexts) outputs.push_back(parseOutput(text));
  auto& tally = host.keep<LiveTally>(host.stopRequest(), 0);
  auto& deviceReporter = host.keep<DeviceReporter>(host.console());
  auto& reporter = host.keep<IOReporter>(host.console(), tally);
  auto device = host.createDevice(deviceReporter);
  ModuleObject<Talvo::GDRV::IIODevice> io(device->CreateIODevice(&reporter, index));
  if (!io)
    throw ExitError(kExitUsage,
                    "the module has no I/O channel " + std::to_string(index) + " for " + host.options().model);
  host.connect(*device);
  // Profile-based boards see their inputs only in the live stream's event sections.
  ModuleObject<Talvo::GDRV::IVideoSource> video;
  auto& streamHandler = host.keep<BackgroundStream>(host.logger());
  if (ioKindOf(host, index) != kClassicKind) {
    host.logger().log(1, "starting a live stream of channel 0 in the background for the board's events");
    video.reset(device->CreateVideoSource(&streamHandler, 0, 0, &host.frameFactory()));
    if (video) video->Start();
  }
  const auto started = Clock::now();
  io->Start();
  for (const auto& [output, active] : outputs) {
    reporter.expectOutput(output);
    io->SetOutput(&reporter, output, active);
  }
  waitShowingProgress(host.console(), host.stopRequest(), started,
                      started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)),
                      [&reporter] {
                        JsonObject counts;
                        reporter.addCounts(counts);
                        return "inputs " + counts["inputs"].dump() + "  outputs " + counts["outputs"].dump();
                      });
  const bool outputsAnswered = reporter.waitOutputs(Clock::now() + kStopDeadline);
  io->Stop();
  if (!reporter.events().waitStopped(Clock::now() + kStopDeadline))
    host.console().message("qrmhost: the I/O channel did not report Stopped within 5 s");
  io.reset();
  if (video) {
    video->Stop();
    if (!streamHandler.waitStopped(Clock::now() + kStopDeadline))
      host.console().message("qrmhost: the background stream did not report Stopped within 5 s");
    video.reset();
  }
  device.reset();
  auto summary = kindLine("summary");
  reporter.addCounts(summary);
  summary["failures"] = tally.totals().failures;
  host.console().report(summary);
  return cameraOutcome(reporter.events().everStarted() && outputsAnswered && !reporter.outputFailed());
}

}  // namespace

void declareIo(CLI::App& app, CommandRun& chosen) {
  auto* command = app.add_subcommand(
      "io",
      "Connects (needs --camera URL --model M), starts I/O channel I and prints {\"kind\":\"started\"},\n"
      "{\"kind\":\"input\",\"index\":N,\"active\":B,\"time\":MS} per input change (each input once at the\n"
      "start and after a failure), {\"kind\":\"output\",\"index\":N,\"code\":C} per --output,\n"
      "{\"kind\":\"output_state\",\"index\":N,\"active\":B,\"time\":MS} when a board reports an output,\n"
      "{\"kind\":\"failed\",\"code\":C} and {\"kind\":\"stopped\"}. Stops after N seconds or at Ctrl-C.\n"
      "For profile-based boards (every kind but iodev_3x1) it also runs a live stream of channel 0 in the\n"
      "background, as a host would, since the boards learn their inputs from the stream's event sections.");
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
