// `thermal`: runs a thermal camera's temperatures detector and prints every temperature matrix
// (size, minimum, maximum, mean) and every device temperature; with --heatmap it writes the
// matrices as heat-map pictures.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Commands.h"
#include "ContractObject.h"
#include "DetectorSession.h"
#include "ExitError.h"
#include "HeatMap.h"
#include "host/Analytics.h"

namespace qrmhost {
namespace {

struct ThermalOptions {
  DetectOptions detect;
  std::string heatMapFolder;  // empty: no pictures
  uint32_t every = 0;         // 0: about one heat map a second, by the matrices' times
  uint32_t scale = 0;         // 0: at least 480 pixels wide
  std::string range;          // "MIN:MAX" in °C, empty: each map's own
};

// A heat map about once a second of matrix time when no --every is given.
constexpr uint64_t kDefaultHeatMapSpacingMs = 1000;

// "MIN:MAX" as a fixed colour range; a usage error when it is not two finite numbers, MIN < MAX.
HeatMapStyle readStyle(const ThermalOptions& options) {
  HeatMapStyle style;
  style.scale = options.scale;
  if (options.range.empty()) return style;
  const auto colon = options.range.find(':');
  double low = 0, high = 0;
  const bool read = colon != std::string::npos && CLI::detail::lexical_cast(options.range.substr(0, colon), low) &&
                    CLI::detail::lexical_cast(options.range.substr(colon + 1), high);
  if (!read || !std::isfinite(low) || !std::isfinite(high) || !(low < high))
    throw usageError("--range takes MIN:MAX in degrees Celsius with MIN below MAX, not '" + options.range + "'");
  style.fixedRange = true;
  style.low = static_cast<float>(low);
  style.high = static_cast<float>(high);
  return style;
}

double rounded(double value) { return std::round(value * 100.0) / 100.0; }

struct MatrixCopy {
  uint64_t time;
  uint32_t width;
  uint32_t height;
  std::vector<float> values;
};

// Writes heat maps on a thread of its own, so that the module's thread that reports the
// matrices is not held up; at most kMaxWaiting wait, later ones are skipped and counted.
class HeatMapWriter {
 public:
  static constexpr size_t kMaxWaiting = 8;
  HeatMapWriter(Console& console, std::string folder, HeatMapStyle style)
      : console_(console), folder_(std::move(folder)), style_(style), thread_([this] { run(); }) {}
  ~HeatMapWriter() { finish(); }

  void add(MatrixCopy matrix) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finishing_) return;
    if (waiting_.size() >= kMaxWaiting) {
      ++skipped_;
      return;
    }
    waiting_.push_back(std::move(matrix));
    changed_.notify_all();
  }
  // Writes what waits, then ends the thread.
  void finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (finishing_) return;
      finishing_ = true;
      changed_.notify_all();
    }
    thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    if (skipped_) console_.message("qrmhost: " + std::to_string(skipped_) + " heat maps skipped (writing too slow)");
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return finishing_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      MatrixCopy matrix = std::move(waiting_.front());
      waiting_.pop_front();
      lock.unlock();
      write(matrix);
      lock.lock();
    }
  }
  // "heatmap-<frame time ms>.png"; a second matrix of the same time (second sensor) gets "-2".
  void write(const MatrixCopy& matrix) {
    const int seen = ++namesTaken_[matrix.time];
    std::string name = "heatmap-" + std::to_string(matrix.time);
    if (seen > 1) name += "-" + std::to_string(seen);
    const std::string path = (std::filesystem::path(folder_) / (name + ".png")).string();
    HeatMapStyle style = style_;
    style.time = matrix.time;
    const std::string error = writeHeatMap(path, matrix.values.data(), matrix.width, matrix.height, style);
    if (error.empty()) return;
    console_.message("qrmhost: " + error);
    failed_.store(true);
  }

 public:
  // True when a heat map could not be written (qrmhost then exits with the output status).
  bool failed() const { return failed_.load(); }

 private:
  std::atomic<bool> failed_{false};

  Console& console_;
  std::string folder_;
  const HeatMapStyle style_;
  std::map<uint64_t, int> namesTaken_;  // writer thread
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<MatrixCopy> waiting_;
  size_t skipped_ = 0;
  bool finishing_ = false;
  std::thread thread_;  // last: starts when the rest is ready
};

// Matrices and device temperatures as lines; every K-th matrix to the heat-map writer.
class ThermalReporter : public DetectorReporter, public Talvo::Analytics::IPeriodicalEventHandler {
 public:
  ThermalReporter(Console& console, HeatMapWriter* writer, uint32_t every)
      : DetectorReporter(console), writer_(writer), every_(every) {}

  bool matrixReported() const { return matricesSeen_.load() > 0; }
  void addCounts(JsonObject& line) const override {
    line["matrices"] = matricesSeen_.load();
    line["levels"] = levels_.load();
    DetectorReporter::addCounts(line);
  }

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    if (Talvo::isContractName<Talvo::Analytics::IPeriodicalEventHandler>(typeName))
      return static_cast<Talvo::Analytics::IPeriodicalEventHandler*>(this);
    return DetectorReporter::QueryContract(typeName);
  }
  void PeriodicalEvent(Talvo::IContract*, const char* name, uint64_t time, const char*,
                       Talvo::Analytics::IEventPropertySet* properties) override {
    for (uint32_t i = 0; properties && i < properties->GetCount(); ++i) {
      double value = 0;
      if (properties->GetNumber(i, &value)) {
        ++levels_;
        auto line = kindLine("level");
        line["name"] = name ? name : "";
        line["time"] = time;
        line["value"] = value;
        console_.report(line);
      } else if (auto* matrix = Talvo::contract_cast<Talvo::Analytics::IFloatMatrix>(properties->GetBuffer(i))) {
        reportMatrix(time, *matrix);
      }
    }
  }

 private:
  void reportMatrix(uint64_t time, Talvo::Analytics::IFloatMatrix& matrix) {
    const uint32_t width = matrix.GetWidth(), height = matrix.GetHeight();
    const float* values = matrix.GetValues();
    const size_t count = size_t(width) * height;
    auto line = kindLine("matrix");
    line["time"] = time;
    line["width"] = width;
    line["height"] = height;
    if (count > 0) {
      const auto [low, high] = std::minmax_element(values, values + count);
      double sum = 0;
      for (size_t i = 0; i < count; ++i) sum += values[i];
      line["min"] = rounded(*low);
      line["max"] = rounded(*high);
      line["mean"] = rounded(sum / double(count));
    }
    console_.report(line);
    ++matricesSeen_;
    if (writer_ && count > 0 && dueForHeatMap(time))
      writer_->add({time, width, height, std::vector<float>(values, values + count)});
  }

  // Every K-th matrix with --every K, else the first and then one a second of matrix time.
  bool dueForHeatMap(uint64_t time) {
    if (every_ > 0) return matrices_++ % every_ == 0;
    if (lastHeatMap_ && time < *lastHeatMap_ + kDefaultHeatMapSpacingMs && time >= *lastHeatMap_) return false;
    lastHeatMap_ = time;
    return true;
  }

  HeatMapWriter* writer_;
  const uint32_t every_;
  std::atomic<uint64_t> matricesSeen_{0};
  std::atomic<uint64_t> levels_{0};
  uint64_t matrices_ = 0;  // the module reports on one thread
  std::optional<uint64_t> lastHeatMap_;
};

int runThermal(Host& host, const ThermalOptions& options) {
  HeatMapWriter* writer = nullptr;  // kept by the host as long as the reporter that uses it
  const HeatMapStyle style = readStyle(options);
  if (!options.heatMapFolder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(options.heatMapFolder, ec);
    if (ec) throw ExitError(kExitOutput, "--heatmap: cannot create " + options.heatMapFolder + ": " + ec.message());
    writer = &host.keep<HeatMapWriter>(host.console(), options.heatMapFolder, style);
  }
  auto& reporter = host.keep<ThermalReporter>(host.console(), writer, options.every);
  const int status = runDetectorSession(host, options.detect, reporter);
  if (writer) writer->finish();
  if (writer && writer->failed()) return kExitOutput;
  if (status != kExitOk) return status;
  return cameraOutcome(reporter.matrixReported());
}

}  // namespace

void declareThermal(CLI::App& app, CommandRun& chosen) {
  auto* command = app.add_subcommand(
      "thermal",
      "Connects (needs --camera URL --model M), starts the temperatures detector ID of channel C\n"
      "and prints {\"kind\":\"started\"}, {\"kind\":\"settings\",\"code\":N}, per temperature matrix\n"
      "{\"kind\":\"matrix\",\"time\":MS,\"width\":W,\"height\":H,\"min\":C,\"max\":C,\"mean\":C}, per\n"
      "device temperature {\"kind\":\"level\",\"name\":\"Level1\"|\"Level2\",\"time\":MS,\"value\":C}, and\n"
      "{\"kind\":\"stopped\"} and a summary line. With --heatmap DIR about one matrix a second (or every\n"
      "K-th) is written as DIR/heatmap-<MS>.png: the inferno colour scale (black, purple, red,\n"
      "orange, pale yellow) from the matrix's minimum to its maximum (or --range), at least 480\n"
      "pixels wide, the hottest point marked with a cyan cross, and a legend below with both\n"
      "temperatures and the matrix time. Runs N seconds, or until Ctrl-C.");
  auto options = std::make_shared<ThermalOptions>();
  auto* seconds = addDetectorOptions(*command, options->detect);
  command->add_option("--heatmap", options->heatMapFolder, "write heat maps (PNG, inferno scale) into this folder")
      ->type_name("DIR");
  command->add_option("--every", options->every, "write every K-th matrix as a heat map (default: one a second)")
      ->type_name("K")
      ->check(CLI::Range(1u, 1000000u));
  command->add_option("--scale", options->scale, "pixels per matrix value (default: at least 480 pixels wide)")
      ->type_name("N")
      ->check(CLI::Range(1u, 16u));
  command->add_option("--range", options->range, "fixed colour range in degrees Celsius, so that maps compare")
      ->type_name("MIN:MAX");
  command->callback([&chosen, options, seconds] {
    options->detect.secondsGiven = seconds->count() > 0;
    chosen = [options](Host& host) { return runThermal(host, *options); };
  });
}

}  // namespace qrmhost
