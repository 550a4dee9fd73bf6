// `detect`: provisions a detector on the camera, prints each begin and end of its events, and
// removes what it provisioned when it stops.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "Commands.h"
#include "DetectorSession.h"
#include "ContractObject.h"
#include "ExitError.h"
#include "Handlers.h"
#include "Host.h"
#include "SettingValue.h"
#include "VisualElements.h"

namespace qrmhost {
namespace {

// How long the detector may take to clean up after Stop before qrmhost destroys it anyway.
constexpr auto kStopDeadline = std::chrono::seconds(10);
constexpr auto kForever = std::chrono::hours(24 * 365);

struct Areas {
  std::vector<Window> windows;
  std::vector<Line> lines;
};

Areas readAreas(const DetectOptions& options) {
  Areas areas;
  for (const auto& text : options.windows) areas.windows.push_back(parseWindow(text));
  for (const auto& text : options.polylines) areas.lines.push_back(parsePolyline(text));
  return areas;
}

void setAreas(Talvo::GDRV::IVideoAnalytics& detector, const Areas& areas) {
  if (areas.windows.empty() && areas.lines.empty()) return;
  auto* visual = Talvo::contract_cast<Talvo::Analytics::IVisualAsyncAdjuster>(&detector);
  if (!visual) throw ExitError(kExitUsage, "the detector takes no areas");
  if (!areas.windows.empty()) {
    ItemList list = ItemList::windows(areas.windows);
    if (const int code = visual->SetRectangleArray("window", &list))
      throw ExitError(kExitUsage, "the detector refused the windows (code " + std::to_string(code) + ")");
  }
  if (!areas.lines.empty()) {
    ItemList list = ItemList::lines(areas.lines);
    if (const int code = visual->SetPolylineArray("polyline", &list))
      throw ExitError(kExitUsage, "the detector refused the polylines (code " + std::to_string(code) + ")");
  }
}

}  // namespace

void* DetectorReporter::QueryContract(const char* typeName) {
  return answerCast<DetectorReporter, Talvo::GDRV::IVideoAnalyticsHandler, Talvo::IContract>(this, typeName);
}

void DetectorReporter::addCounts(JsonObject& line) const {
  line["events"] = events_.load();
  line["failures"] = failures_.load();
}

// "events 3  failures 0" from the summary's counts.
std::string DetectorReporter::progressText() const {
  JsonObject counts;
  addCounts(counts);
  std::string text;
  for (const auto& [key, value] : counts.items()) text += (text.empty() ? "" : "  ") + key + " " + value.dump();
  return text;
}

void DetectorReporter::Failed(Talvo::IContract*, int32_t code) {
  ++failures_;
  auto line = kindLine("failed");
  line["code"] = code;
  console_.report(line);
}

void DetectorReporter::Started(Talvo::IContract*) {
  started_.store(true);
  console_.report(kindLine("started"));
}

void DetectorReporter::Stopped(Talvo::IContract*) {
  console_.report(kindLine("stopped"));
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  changed_.notify_all();
}

void DetectorReporter::Event(Talvo::IContract*, const char* name, Talvo::GDRV::EventPhase phase, uint64_t time,
                             const char*, const char*) {
  ++events_;
  auto line = kindLine("event");
  line["name"] = name ? name : "";
  line["phase"] = phase == Talvo::GDRV::EVENT_BEGIN ? "begin" : phase == Talvo::GDRV::EVENT_END ? "end" : "periodical";
  line["time"] = time;
  console_.report(line);
}

bool DetectorReporter::waitStopped(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_until(lock, deadline, [this] { return stopped_; });
}

int runDetectorSession(Host& host, const DetectOptions& options, DetectorReporter& reporter) {
  std::vector<SettingValue> settings;
  for (const auto& text : options.settings) settings.push_back(parseSetting(text));
  const Areas areas = readAreas(options);
  auto& deviceReporter = host.keep<DeviceReporter>(host.console());
  auto& settingsReporter = host.keep<SettingsReporter>(host.console());

  auto device = host.createDevice(deviceReporter);
  ModuleObject<Talvo::GDRV::IVideoAnalytics> detector(
      device->CreateVideoAnalytics(&reporter, options.channel, options.detector.c_str()));
  if (!detector)
    throw ExitError(kExitUsage, "the module has no detector '" + options.detector + "' on channel " +
                                    std::to_string(options.channel) + " of " + host.options().model);
  setAreas(*detector, areas);
  auto* adjuster = Talvo::contract_cast<Talvo::IAsyncAdjuster>(detector.get());
  if (adjuster)
    storeSettings(*adjuster, settings, [&host](const std::string& text) { host.logger().log(1, text); });
  else if (!settings.empty())
    throw ExitError(kExitUsage, "the detector takes no settings (no adjuster)");
  host.connect(*device);

  const auto started = Clock::now();
  detector->Start();
  if (adjuster) adjuster->ApplySettings(&settingsReporter);
  const auto deadline =
      options.secondsGiven
          ? started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds))
          : started + kForever;
  waitShowingProgress(host.console(), host.stopRequest(), started, deadline,
                      [&reporter] { return reporter.progressText(); });

  detector->Stop();
  if (!reporter.waitStopped(Clock::now() + kStopDeadline))
    host.console().message("qrmhost: the detector did not report Stopped within 10 s");
  detector.reset();
  device.reset();
  auto summary = kindLine("summary");
  reporter.addCounts(summary);
  host.console().report(summary);
  return cameraOutcome(deviceReporter.everConnected() && reporter.everStarted());
}

CLI::Option* addDetectorOptions(CLI::App& command, DetectOptions& options) {
  command.add_option("--channel", options.channel, "video channel index (default 0)")->type_name("C");
  command.add_option("--detector", options.detector, "detector identifier of the repository (see models --details)")
      ->type_name("ID")
      ->required();
  auto* seconds = addSecondsOption(command, options.seconds, "how long to run (default: until Ctrl-C)");
  command
      .add_option("--set", options.settings,
                  "a detector setting applied after Start (may be repeated); VALUE as for live")
      ->type_name("NAME=VALUE")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  return seconds;
}

void declareDetect(CLI::App& app, CommandRun& chosen) {
  auto* command = app.add_subcommand(
      "detect",
      "Connects (needs --camera URL --model M), provisions detector ID of channel C on the\n"
      "camera, applies the settings and areas, and prints {\"kind\":\"started\"},\n"
      "{\"kind\":\"settings\",\"code\":N}, one {\"kind\":\"event\",\"name\":E,\"phase\":\"begin\"|\"end\",\n"
      "\"time\":MS} per begin and end of its events, and {\"kind\":\"stopped\"} once the camera\n"
      "is as it was. Runs N seconds, or until Ctrl-C.");
  auto options = std::make_shared<DetectOptions>();
  auto* seconds = addDetectorOptions(*command, *options);
  const auto repeated = [command](const char* name, std::vector<std::string>& values, const char* help,
                                  const char* typeName) {
    command->add_option(name, values, help)
        ->type_name(typeName)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  };
  repeated("--window", options->windows, "a rectangle of the \"window\" element, relative 0..1 (may be repeated)",
           "X,Y,W,H");
  repeated("--polyline", options->polylines, "a line of the \"polyline\" element, relative 0..1 (may be repeated)",
           "X1,Y1;X2,Y2;...");
  command->callback([&chosen, options, seconds] {
    options->secondsGiven = seconds->count() > 0;
    chosen = [options](Host& host) {
      return runDetectorSession(host, *options, host.keep<DetectorReporter>(host.console()));
    };
  });
}

}  // namespace qrmhost
