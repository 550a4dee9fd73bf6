// `fleet`: many cameras and channels in one process, as a host with a camera wall runs them; one
// health line per channel every few seconds and on every change of state, a summary per camera.
#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "Commands.h"
#include "ExitError.h"
#include "FleetConfig.h"
#include "FleetHealth.h"
#include "FleetRun.h"
#include "Handlers.h"
#include "Host.h"
#include "ModuleLoader.h"
#include "Repository.h"
#include "SettingValue.h"

namespace qrmhost {
namespace {

constexpr auto kStopDeadline = std::chrono::seconds(5);
// How often the main thread looks at Ctrl-C while it waits for the next line.
constexpr auto kStopPoll = std::chrono::milliseconds(100);
constexpr auto kForever = std::chrono::hours(24 * 365);

// One camera of the run. Members end in reverse order: channels before their device.
struct RunningCamera {
  std::string name;
  const FleetCamera* entry = nullptr;  // its fleet entry, which outlives it
  ModuleObject<Talvo::GDRV::IDevice> device;
  std::vector<ChannelHealth*> channels;  // kept by the host
  std::vector<ModuleObject<Talvo::GDRV::IVideoSource>> videos;
  std::vector<ModuleObject<Talvo::GDRV::IAudioSource>> audios;
  std::vector<Talvo::IAsyncAdjuster*> adjusters;  // of video sources with settings to apply
};

std::string channelName(const FleetChannel& channel) {
  return "channel " + std::to_string(channel.channel) + " stream " + std::to_string(channel.stream);
}

// The rate `channel` asks the camera for: its own "fps" setting, else the model's default; 0
// when unknown.
double configuredFps(const FleetChannel& channel, const ModelSummary* model) {
  for (const auto& setting : channel.settings) {
    if (setting.name != "fps") continue;
    if (const int* value = std::get_if<int>(&setting.value)) return *value;
    if (const double* value = std::get_if<double>(&setting.value)) return *value;
    return 0;
  }
  if (!model || channel.channel >= model->defaultFps.size()) return 0;
  const auto& streams = model->defaultFps[channel.channel];
  return channel.stream < streams.size() ? streams[channel.stream] : 0;
}

// The repository entry the module serves `model` from: the one naming it, else "generic".
const ModelSummary* modelSummary(const std::vector<RepositoryModel>& models, const std::string& model) {
  const RepositoryModel* generic = nullptr;
  for (const auto& entry : models)
    for (const auto& identity : entry.identities) {
      if (identity.model == model) return &entry.summary;
      if (identity.model == "generic" && !generic) generic = &entry;
    }
  return generic ? &generic->summary : nullptr;
}

RunningCamera openCamera(Host& host, const FleetCamera& camera, const std::vector<RepositoryModel>& models,
                         FleetBoard& board) {
  RunningCamera running;
  running.name = camera.name;
  running.device =
      host.createDevice(host.keep<DeviceReporter>(host.console(), camera.name), camera.vendor, camera.model,
                        camera.firmware);
  for (const auto& channel : camera.live) {
    auto& health =
        host.keep<ChannelHealth>(camera.name, channel, configuredFps(channel, modelSummary(models, camera.model)), board);
    running.channels.push_back(&health);
    running.videos.emplace_back(running.device->CreateVideoSource(&host.keep<FleetVideoHandler>(health),
                                                                  channel.channel, channel.stream,
                                                                  &host.frameFactory()));
    if (!running.videos.back())
      throw usageError(camera.name + ": the module has no video source for " + channelName(channel) + " of " +
                       camera.model);
    if (!channel.settings.empty()) {
      auto* adjuster = Talvo::contract_cast<Talvo::IAsyncAdjuster>(running.videos.back().get());
      if (!adjuster) throw usageError(camera.name + ": the video source takes no settings (no adjuster)");
      storeSettings(*adjuster, channel.settings, [&host](const std::string& text) { host.logger().log(1, text); });
      running.adjusters.push_back(adjuster);
    }
    if (!channel.audio) continue;
    running.audios.emplace_back(running.device->CreateAudioSource(&host.keep<FleetAudioHandler>(health),
                                                                  channel.channel, &host.frameFactory()));
    if (!running.audios.back())
      throw usageError(camera.name + ": the module has no audio source for channel " +
                       std::to_string(channel.channel) + " of " + camera.model);
  }
  running.entry = &camera;
  return running;
}

// Once every entry's channels were created (and so checked), the cameras are connected.
void connectCamera(Host& host, RunningCamera& camera) {
  host.logger().log(1, "connecting to " + camera.name + " as " + camera.entry->model);
  camera.device->Connect(camera.entry->connection.c_str());
}

// Prints every channel's line on a tick, else the lines of channels whose state changed.
class HealthPrinter {
 public:
  HealthPrinter(Console& console, std::vector<ChannelHealth*> channels)
      : console_(console), channels_(std::move(channels)), printed_(channels_.size(), ChannelHealth::State::Stopped) {}

  void print(Clock::time_point now, bool tick) {
    for (size_t i = 0; i < channels_.size(); ++i) {
      const auto state = channels_[i]->state();
      if (!tick && state == printed_[i]) continue;
      printed_[i] = state;
      console_.report(channels_[i]->healthLine(now, tick));
    }
    if (tick) console_.report(roundLine());
  }

  // {"kind":"round","streaming":N,"degraded":N,"failed":N,"stopped":N}: the fleet at a glance.
  JsonObject roundLine() const {
    std::map<ChannelHealth::State, size_t> counts;
    for (auto* health : channels_) ++counts[health->state()];
    auto line = kindLine("round");
    line["streaming"] = counts[ChannelHealth::State::Streaming];
    line["degraded"] = counts[ChannelHealth::State::Degraded];
    line["failed"] = counts[ChannelHealth::State::Failed];
    line["stopped"] = counts[ChannelHealth::State::Stopped];
    return line;
  }

  bool allStopped() const {
    return std::all_of(channels_.begin(), channels_.end(),
                       [](ChannelHealth* health) { return health->state() == ChannelHealth::State::Stopped; });
  }

 private:
  Console& console_;
  const std::vector<ChannelHealth*> channels_;
  std::vector<ChannelHealth::State> printed_;
};

// The channels' totals added up, as members of `line`.
void addTotals(JsonObject& line, const std::vector<ChannelHealth*>& channels) {
  ChannelHealth::Totals sum;
  for (auto* health : channels) {
    const auto totals = health->totals();
    sum.frames += totals.frames;
    sum.bytes += totals.bytes;
    sum.audioFrames += totals.audioFrames;
    sum.failures += totals.failures;
    sum.reconnects += totals.reconnects;
    sum.droppedParts += totals.droppedParts;
  }
  line["channels"] = channels.size();
  line["frames"] = sum.frames;
  line["bytes"] = sum.bytes;
  line["audio_frames"] = sum.audioFrames;
  line["failures"] = sum.failures;
  line["reconnects"] = sum.reconnects;
  line["dropped_parts"] = sum.droppedParts;
}

JsonObject summaryLine(const RunningCamera& camera) {
  auto line = kindLine("summary");
  line["camera"] = camera.name;
  addTotals(line, camera.channels);
  return line;
}

}  // namespace

int runFleet(Host& host, const FleetOptions& options, FleetExtension* extension) {
  const auto cameras = readFleetConfig(options.config);
  // The repository is read once; every entry's model is checked before any camera is asked anything.
  const auto models = readRepository(repositoryPathOf(host.module().path()));
  std::set<std::string> known;
  for (const auto& model : models)
    for (const auto& identity : model.identities) known.insert(identity.model);
  for (size_t i = 0; i < cameras.size(); ++i) {
    if (known.count(cameras[i].model)) continue;
    throw usageError("--config " + options.config + ": entry " + std::to_string(i + 1) + " (" + cameras[i].name +
                     "): unknown model " + cameras[i].model + host.closeMatchesText(cameras[i].model));
  }
  auto& board = host.keep<FleetBoard>();
  std::vector<RunningCamera> running;
  std::vector<ChannelHealth*> channels;
  std::vector<std::vector<ChannelHealth*>> channelsByCamera;
  std::vector<Talvo::GDRV::IDevice*> devices;
  for (const auto& camera : cameras) {
    running.push_back(openCamera(host, camera, models, board));
    channels.insert(channels.end(), running.back().channels.begin(), running.back().channels.end());
    channelsByCamera.push_back(running.back().channels);
    devices.push_back(running.back().device.get());
  }
  if (extension) extension->prepared(cameras, devices, channelsByCamera);
  for (auto& camera : running) connectCamera(host, camera);
  HealthPrinter printer(host.console(), channels);

  const auto started = Clock::now();
  for (auto& camera : running) {
    for (auto& video : camera.videos) video->Start();
    for (auto& audio : camera.audios) audio->Start();
    for (auto* adjuster : camera.adjusters)
      adjuster->ApplySettings(&host.keep<SettingsReporter>(host.console(), camera.name));
  }
  if (extension) extension->started();
  const auto every = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.healthEvery));
  const auto deadline = options.secondsGiven
                            ? started + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(options.seconds))
                            : started + kForever;
  auto nextTick = started + every;
  while (!host.stopRequest().requested() && Clock::now() < deadline) {
    const bool changed = board.waitForChange(std::min({nextTick, deadline, Clock::now() + kStopPoll}));
    const auto now = Clock::now();
    for (auto* health : channels) health->judgeRate(now);  // a change shows in the next round
    const bool tick = now >= nextTick;
    if (tick) nextTick += every * (1 + (now - nextTick) / every);  // a slow round skips ticks, not lines
    if (tick || changed) printer.print(now, tick);
  }

  for (auto& camera : running) {
    for (auto& video : camera.videos) video->Stop();
    for (auto& audio : camera.audios) audio->Stop();
  }
  if (extension) extension->stopping();
  const auto stopDeadline = Clock::now() + kStopDeadline;
  while (!printer.allStopped() && board.waitForChange(stopDeadline)) {
  }
  if (!printer.allStopped()) host.console().message("qrmhost: some channels did not report Stopped within 5 s");
  if (extension) extension->finishing();
  printer.print(Clock::now(), true);
  // A fleet did what it was asked when every channel delivered pictures.
  const bool everyChannelStreamed =
      std::all_of(channels.begin(), channels.end(), [](ChannelHealth* channel) { return channel->totals().frames > 0; });
  std::vector<JsonObject> summaries;
  for (const auto& camera : running) summaries.push_back(summaryLine(camera));
  running.clear();  // channels, then devices
  for (const auto& line : summaries) host.console().report(line);
  auto total = kindLine("total");  // the whole fleet, last
  total["cameras"] = cameras.size();
  addTotals(total, channels);
  host.console().report(total);
  return cameraOutcome(everyChannelStreamed);
}

CLI::Option* addFleetOptions(CLI::App& command, FleetOptions& options) {
  command.add_option("--config", options.config, "the camera list (JSON)")->type_name("FILE")->required();
  auto* seconds = addSecondsOption(command, options.seconds, "how long to run (default: until Ctrl-C)");
  command.add_option("--health-every", options.healthEvery, "seconds between health rounds (default 5)")
      ->type_name("S")
      ->check(finiteRange(0.1, 86400.0));
  return seconds;
}

void declareFleet(CLI::App& app, CommandRun& chosen) {
  auto* command = app.add_subcommand(
      "fleet",
      "Runs every camera and live channel listed in FILE in this one process, as a host does.\n"
      "FILE: [{\"camera\":URL,\"model\":M,\"live\":[{\"channel\":0,\"stream\":0,\"audio\":true}]}, ...]\n"
      "(optional per camera: \"vendor\", \"firmware\"; per channel: \"settings\":{\"fps\":25,...},\n"
      "applied to the video source after Start). Every S seconds and on every change of a\n"
      "channel's state it prints one line per channel:\n"
      "{\"kind\":\"health\",\"camera\":\"host:port\",\"channel\":C,\"stream\":S,\n"
      " \"state\":\"streaming\"|\"degraded\"|\"failed\"|\"stopped\",\"fps\":F,\"kbps\":K,\"frames\":N,\n"
      " \"last_frame_age_ms\":N,\"failures\":N,\"reconnects\":N,\"dropped_parts\":N}\n"
      "(fps and kbps over the last S seconds), and at the end a summary line per camera.\n"
      "\"degraded\": for 10 s the pictures came at less than half the channel's configured rate.\n"
      "Runs N seconds, or until Ctrl-C. A mistake in FILE: one line naming the entry, status 2.");
  auto options = std::make_shared<FleetOptions>();
  auto* seconds = addFleetOptions(*command, *options);
  command->callback([&chosen, options, seconds] {
    options->secondsGiven = seconds->count() > 0;
    chosen = [options](Host& host) { return runFleet(host, *options); };
  });
}

}  // namespace qrmhost
