// `live`: pictures (and with --audio, audio) of one video stream, then a summary.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "Commands.h"
#include "ExitError.h"
#include "Handlers.h"
#include "Host.h"
#include "PictureSaver.h"
#include "SettingValue.h"

namespace qrmhost {
namespace {

// How long Stop may take before qrmhost goes on to Destroy anyway.
constexpr auto kStopDeadline = std::chrono::seconds(5);
// "No time limit": far enough away, yet small enough for the clock's arithmetic.
constexpr auto kForever = std::chrono::hours(24 * 365);

struct LivePlan {
  uint32_t channel = 0;
  uint32_t stream = 0;
  std::optional<std::chrono::duration<double>> duration;  // none: until the frame goal or Ctrl-C
  uint64_t frameGoal = 0;                                 // 0: none
  std::optional<std::filesystem::path> saveDirectory;
  std::vector<SettingValue> settings;
  bool audio = false;
};

// The options as given; checked for range by the declaration, read into a plan by readPlan.
struct LiveOptions {
  uint32_t channel = 0;
  uint32_t stream = 0;
  double seconds = 5.0;
  bool secondsGiven = false;
  uint64_t frames = 0;
  std::string saveDirectory;
  std::vector<std::string> settings;
  bool audio = false;
};

LivePlan readPlan(const LiveOptions& options) {
  LivePlan plan;
  plan.channel = options.channel;
  plan.stream = options.stream;
  plan.frameGoal = options.frames;
  if (options.secondsGiven || plan.frameGoal == 0) plan.duration = std::chrono::duration<double>(options.seconds);
  if (!options.saveDirectory.empty()) plan.saveDirectory = options.saveDirectory;
  for (const auto& text : options.settings) plan.settings.push_back(parseSetting(text));
  plan.audio = options.audio;
  return plan;
}

std::string progressText(const LiveTally::Totals& totals) {
  char text[160];
  std::snprintf(text, sizeof text, "frames %llu (key %llu)  %llu bytes  audio %llu  failures %llu",
                static_cast<unsigned long long>(totals.frames), static_cast<unsigned long long>(totals.keyFrames),
                static_cast<unsigned long long>(totals.bytes), static_cast<unsigned long long>(totals.audioFrames),
                static_cast<unsigned long long>(totals.failures));
  return text;
}

double secondsBetween(Clock::time_point begin, Clock::time_point end) {
  return std::chrono::duration<double>(end - begin).count();
}


void awaitStopped(Host& host, ChannelEvents& events, const char* what) {
  if (!events.waitStopped(Clock::now() + kStopDeadline))
    host.console().message(std::string("qrmhost: the ") + what + " source did not report Stopped within 5 s");
}

JsonObject summaryLine(const LiveTally::Totals& totals, double seconds) {
  auto line = kindLine("summary");
  line["frames"] = totals.frames;
  line["key_frames"] = totals.keyFrames;
  line["bytes"] = totals.bytes;
  line["audio_frames"] = totals.audioFrames;
  line["failures"] = totals.failures;
  const double fps = seconds > 0 ? static_cast<double>(totals.frames) / seconds : 0.0;
  line["fps"] = std::round(fps * 100) / 100;  // two decimals at most
  return line;
}

int runLive(Host& host, const LivePlan& plan) {
  host.camera();  // --camera is checked before anything is made
  PictureSaver* saver = plan.saveDirectory ? &host.keep<PictureSaver>(*plan.saveDirectory, host.console()) : nullptr;

  auto& tally = host.keep<LiveTally>(host.stopRequest(), plan.frameGoal);
  auto& deviceReporter = host.keep<DeviceReporter>(host.console());
  auto& videoReporter = host.keep<VideoReporter>(host.console(), tally, saver);
  auto& audioReporter = host.keep<AudioReporter>(host.console(), tally);
  auto& settingsReporter = host.keep<SettingsReporter>(host.console());

  // Declared in this order so that an early exit destroys channels before the device.
  auto device = host.createDevice(deviceReporter);

  ModuleObject<Talvo::GDRV::IVideoSource> video(
      device->CreateVideoSource(&videoReporter, plan.channel, plan.stream, &host.frameFactory()));
  if (!video)
    throw ExitError(kExitUsage, "the module has no video source for channel " + std::to_string(plan.channel) +
                                    " stream " + std::to_string(plan.stream) + " of " + host.options().model);

  Talvo::IAsyncAdjuster* adjuster = nullptr;
  if (!plan.settings.empty()) {
    adjuster = Talvo::contract_cast<Talvo::IAsyncAdjuster>(video.get());
    if (!adjuster) throw ExitError(kExitUsage, "the video source takes no settings (no adjuster)");
    storeSettings(*adjuster, plan.settings, [&host](const std::string& text) { host.logger().log(1, text); });
  }

  ModuleObject<Talvo::GDRV::IAudioSource> audio;
  if (plan.audio) {
    audio.reset(device->CreateAudioSource(&audioReporter, plan.channel, &host.frameFactory()));
    if (!audio)
      throw ExitError(kExitUsage, "the module has no audio source for channel " + std::to_string(plan.channel));
  }
  host.connect(*device);

  const auto started = Clock::now();
  video->Start();
  if (audio) audio->Start();
  if (adjuster) adjuster->ApplySettings(&settingsReporter);

  const auto deadline =
      plan.duration ? started + std::chrono::duration_cast<Clock::duration>(*plan.duration) : started + kForever;
  waitShowingProgress(host.console(), host.stopRequest(), started, deadline,
                      [&tally] { return progressText(tally.totals()); });
  const auto stopping = Clock::now();

  video->Stop();
  if (audio) audio->Stop();
  awaitStopped(host, videoReporter.events(), "video");
  if (audio) awaitStopped(host, audioReporter.events(), "audio");
  audio.reset();
  video.reset();
  device.reset();

  host.console().report(summaryLine(tally.totals(), secondsBetween(started, stopping)));
  if (saver && saver->failed()) return kExitOutput;
  return cameraOutcome(tally.totals().frames > 0);
}

}  // namespace

void declareLive(CLI::App& app, CommandRun& chosen) {
  auto* command =
      app.add_subcommand("live",
                         "Connects (needs --camera URL --model M), starts the video source of channel C,\n"
                         "stream S and prints each picture:\n"
                         "{\"kind\":\"frame\",\"codec\":...,\"key\":true|false,\"size\":N}, then a summary line.\n"
                         "Stops after N seconds (default 5), after N pictures, or at Ctrl-C.");
  auto options = std::make_shared<LiveOptions>();
  command->add_option("--channel", options->channel, "video channel index (default 0)")->type_name("C");
  command->add_option("--stream", options->stream, "stream index of the channel (default 0)")->type_name("S");
  auto* seconds = addSecondsOption(*command, options->seconds, "how long to run (default 5 unless --frames is given)");
  command->add_option("--frames", options->frames, "stop after N pictures")
      ->type_name("N")
      ->check(CLI::Range(uint64_t{1}, uint64_t{0xFFFFFFFF}).description(""));
  command
      ->add_option("--save", options->saveDirectory,
                   "write every picture to DIR: 000001.jpg (key or MJPEG picture),\n"
                   "000002.zelta (Zelta delta picture)")
      ->type_name("DIR")
      ->check([](const std::string& directory) { return directory.empty() ? "--save needs a folder" : ""; });
  command
      ->add_option("--set", options->settings,
                   "a channel setting applied after Start (may be repeated); VALUE is an\n"
                   "int, true/false, a decimal number or text; a :int :bool :double\n"
                   ":string suffix forces the type")
      ->type_name("NAME=VALUE")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  command->add_flag("--audio", options->audio,
                    "also start the channel's audio source: {\"kind\":\"audio\",\"size\":N}");
  command->callback([&chosen, options, seconds] {
    options->secondsGiven = seconds->count() > 0;
    chosen = [options](Host& host) { return runLive(host, readPlan(*options)); };
  });
}

}  // namespace qrmhost
