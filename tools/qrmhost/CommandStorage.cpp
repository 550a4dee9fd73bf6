// `recordings` and `playback`: the camera's edge storage. `recordings` prints the stored span,
// the recorded ranges in a time range and, with --gaps, the holes between them; `playback`
// seeks to a time and plays the recordings from there.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <iomanip>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "Commands.h"
#include "ExitError.h"
#include "Handlers.h"
#include "Host.h"
#include "JsonLine.h"
#include "PictureSaver.h"
#include "StorageReporters.h"

namespace qrmhost {

namespace {

constexpr auto kAnswerDeadline = std::chrono::seconds(30);
constexpr auto kStopDeadline = std::chrono::seconds(5);

// "2017-07-14T02:40:00Z", with optional fractions ".123", or milliseconds since 1970.
uint64_t parseTime(const std::string& text, const char* option) {
  if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) return std::stoull(text);
  std::tm parts{};
  std::istringstream in(text);
  in >> std::get_time(&parts, "%Y-%m-%dT%H:%M:%S");
  if (in.fail())
    throw usageError(std::string(option) + " wants an ISO time (2017-07-14T02:40:00Z) or ms, not '" + text + "'");
  uint64_t ms = 0;
  if (in.peek() == '.') {
    in.get();
    std::string digits;
    while (std::isdigit(in.peek())) digits += static_cast<char>(in.get());
    digits = (digits + "000").substr(0, 3);
    ms = std::stoull(digits);
  }
  if (in.peek() == 'Z') in.get();
  if (in.peek() != std::char_traits<char>::eof())
    throw usageError(std::string(option) + ": unexpected text after the time in '" + text + "'");
  return static_cast<uint64_t>(timegm(&parts)) * 1000 + ms;
}

ModuleObject<Talvo::GDRV::IDevice> connectDevice(Host& host) {
  auto& deviceReporter = host.keep<DeviceReporter>(host.console());
  auto device = host.createDevice(deviceReporter);
  host.connect(*device);
  return device;
}

Talvo::GDRV::IStorageDevice* storageOf(Talvo::GDRV::IDevice* device) {
  auto* storage = Talvo::contract_cast<Talvo::GDRV::IStorageDevice>(device);
  if (!storage) throw ExitError(kExitUsage, "the device is no storage device");
  return storage;
}

int waitOrTimeout(Awaited& awaited, Host& host, const char* what) {
  const auto value = awaited.waitUntil(StorageClock::now() + kAnswerDeadline);
  if (!value) throw ExitError(kExitCamera, std::string("no answer to the ") + what + " within 30 s");
  return *value;
}

struct RecordingsPlan {
  std::optional<std::string> from;
  std::optional<std::string> to;
  bool gaps = false;
};

// A time option read before anything connects, so that a bad one costs no camera request.
std::optional<uint64_t> timeOption(const std::optional<std::string>& text, const char* option) {
  return text ? std::optional<uint64_t>(parseTime(*text, option)) : std::nullopt;
}

int runRecordings(Host& host, const RecordingsPlan& plan) {
  const auto fromOption = timeOption(plan.from, "--from");
  const auto toOption = timeOption(plan.to, "--to");
  auto device = connectDevice(host);
  auto* storage = storageOf(device.get());
  auto& info = host.keep<StorageInfoReporter>(host.console());
  storage->RequestRecordingsInfo(&info);
  const int infoCode = waitOrTimeout(info.done, host, "storage query");
  if (infoCode != 0) {
    auto line = kindLine("done");
    line["code"] = infoCode;
    host.console().report(line);
    return kExitCamera;
  }
  const uint64_t from = fromOption.value_or(info.begin);
  const uint64_t to = toOption.value_or(info.end);
  auto& reporter = host.keep<SearchReporter>(host.console());
  ModuleObject<Talvo::GDRV::IRecordingSearch> search(storage->CreateRecordingSearch("0"));
  if (!search) throw ExitError(kExitUsage, "the module offers no recording search");
  search->FindRecordings(Talvo::GDRV::DateTimeRange{from, to}, 0, &reporter);
  std::optional<int> code;
  while (!(code = reporter.done.waitUntil(StorageClock::now() + std::chrono::milliseconds(100)))) {
    if (host.stopRequest().requested()) {
      search->StopSearch();  // the search still completes; then it may be destroyed
      code = reporter.done.waitUntil(StorageClock::now() + kAnswerDeadline);
      break;
    }
  }
  if (!code) throw ExitError(kExitCamera, "the search did not complete");
  if (plan.gaps) {
    for (const auto& [begin, end] : gapsBetween(reporter.ranges(), from, to)) {
      auto line = kindLine("gap");
      line["begin"] = begin;
      line["end"] = end;
      host.console().report(line);
    }
  }
  auto line = kindLine("done");
  line["code"] = *code;
  host.console().report(line);
  search.reset();
  device.reset();
  return cameraOutcome(*code == 0);
}

struct PlaybackPlan {
  std::optional<std::string> seek;
  bool play = false;
  double seconds = 10;
  std::optional<double> pauseAfter;
  std::optional<std::string> saveDirectory;
};

int runPlayback(Host& host, const PlaybackPlan& plan) {
  const auto seekTime = timeOption(plan.seek, "--seek");
  auto device = connectDevice(host);
  auto* storage = storageOf(device.get());
  PictureSaver* saver = plan.saveDirectory ? &host.keep<PictureSaver>(*plan.saveDirectory, host.console()) : nullptr;
  auto& reporter = host.keep<PlaybackReporter>(host.console(), saver);
  ModuleObject<Talvo::GDRV::IRecordingPlayback> playback(
      storage->CreateRecordingPlayback("0", &host.frameFactory(), nullptr, &reporter));
  if (!playback) throw ExitError(kExitUsage, "the module offers no recording playback");
  bool answered = true;  // every seek and play the camera was asked for answered 0
  if (plan.seek) {
    auto& seek = host.keep<ActionReporter>(host.console(), "seek");
    playback->Seek(*seekTime, &seek);
    answered = waitOrTimeout(seek.done, host, "seek") == 0 && answered;
  }
  if (plan.play) {
    auto& play = host.keep<ActionReporter>(host.console(), "play");
    playback->Play(&play, 1.0);
    answered = waitOrTimeout(play.done, host, "play") == 0 && answered;
    const auto started = StorageClock::now();
    const auto seconds = [](double s) {
      return std::chrono::duration_cast<StorageClock::duration>(std::chrono::duration<double>(s));
    };
    const auto end = started + seconds(plan.pauseAfter ? std::min(*plan.pauseAfter, plan.seconds) : plan.seconds);
    while (!reporter.ended.waitUntil(std::min(end, StorageClock::now() + std::chrono::milliseconds(100))) &&
           StorageClock::now() < end && !host.stopRequest().requested()) {
    }
    if (plan.pauseAfter) {
      auto& pause = host.keep<ActionReporter>(host.console(), "play");
      playback->Play(&pause, 0);
      pause.done.waitUntil(StorageClock::now() + kStopDeadline);
    }
  }
  playback->Terminate();
  playback.reset();
  device.reset();
  auto done = kindLine("done");
  reporter.addCounts(done);
  host.console().report(done);
  if (saver && saver->failed()) return kExitOutput;
  return cameraOutcome(answered);
}

}  // namespace

void declareRecordings(CLI::App& app, CommandRun& chosen) {
  auto* command = app.add_subcommand(
      "recordings",
      "Connects (needs --camera URL --model M) and prints the span of the camera's storage\n"
      "{\"kind\":\"storage\",\"begin\":MS,\"end\":MS}, then {\"kind\":\"range\",\"id\":...,\"begin\":MS,\"end\":MS}\n"
      "per recorded range in [--from, --to] (default: the whole storage), newest first, with --gaps\n"
      "{\"kind\":\"gap\",\"begin\":MS,\"end\":MS} per hole between them, and {\"kind\":\"done\",\"code\":N}.");
  auto plan = std::make_shared<RecordingsPlan>();
  command->add_option("--from", plan->from, "begin of the range: ISO time (2017-07-14T02:40:00Z) or ms")
      ->type_name("ISO|MS");
  command->add_option("--to", plan->to, "end of the range: ISO time or ms")->type_name("ISO|MS");
  command->add_flag("--gaps", plan->gaps, "also print the holes between the ranges");
  command->callback([&chosen, plan] { chosen = [plan](Host& host) { return runRecordings(host, *plan); }; });
}

void declarePlayback(CLI::App& app, CommandRun& chosen) {
  auto* command =
      app.add_subcommand("playback",
                         "Connects (needs --camera URL --model M), seeks (--seek) and/or plays (--play) the camera's\n"
                         "recordings: {\"kind\":\"seek\",\"code\":N}, {\"kind\":\"play\",\"code\":N},\n"
                         "{\"kind\":\"frame\",\"codec\":...,\"key\":B,\"time\":MS,\"size\":N}, "
                         "{\"kind\":\"audio\",\"size\":N,\"time\":MS},\n"
                         "{\"kind\":\"failed\",\"code\":N} or {\"kind\":\"finished\",\"code\":N} when the play ends, "
                         "{\"kind\":\"done\"}.");
  auto plan = std::make_shared<PlaybackPlan>();
  command->add_option("--seek", plan->seek, "the picture at this time: ISO time or ms")->type_name("ISO|MS");
  command->add_flag("--play", plan->play, "play from the position (the seek's, else the oldest)");
  addSecondsOption(*command, plan->seconds, "how long to play at most (default 10)");
  command->add_option("--pause-after", plan->pauseAfter, "pause after N seconds of play")
      ->type_name("N")
      ->check(finiteRange(0.0, 1e6));
  command->add_option("--save", plan->saveDirectory, "write every picture into DIR, as live does")->type_name("DIR");
  command->callback([&chosen, plan] { chosen = [plan](Host& host) { return runPlayback(host, *plan); }; });
}

}  // namespace qrmhost
