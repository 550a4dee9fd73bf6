// A detector's run as `detect` and `thermal` do it: connect, create the detector, store its
// settings and areas, Start, apply the settings, run for the time asked (or until Ctrl-C), Stop
// and wait for Stopped. The reporter prints what the detector reports.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "Arguments.h"
#include "Console.h"
#include "Host.h"
#include "JsonLine.h"
#include "host/GDRV.h"

namespace qrmhost {

struct DetectOptions {
  uint32_t channel = 0;
  std::string detector;
  double seconds = 0;
  bool secondsGiven = false;
  std::vector<std::string> settings;
  std::vector<std::string> windows;
  std::vector<std::string> polylines;
};

// The detector's reports as lines: started, stopped, failed, event. Module threads call it.
class DetectorReporter : public Talvo::GDRV::IVideoAnalyticsHandler {
 public:
  explicit DetectorReporter(Console& console) : console_(console) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Failed(Talvo::IContract*, int32_t code) override;
  void Started(Talvo::IContract*) override;
  void Stopped(Talvo::IContract*) override;
  void Event(Talvo::IContract*, const char* name, Talvo::GDRV::EventPhase phase, uint64_t time, const char*,
             const char*) override;
  void Data(Talvo::IContract*, const char*, uint64_t, const char*) override {}

  bool waitStopped(Clock::time_point deadline);
  // True once the detector reported Started (any thread).
  bool everStarted() const { return started_.load(); }

  // What the run saw, for the progress line and the summary; a subclass adds its own counts.
  virtual void addCounts(JsonObject& line) const;
  std::string progressText() const;

 protected:
  Console& console_;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false;
  std::atomic<bool> started_{false};
  std::atomic<uint64_t> events_{0};
  std::atomic<uint64_t> failures_{0};
};

// Usage problems throw ExitError; returns the exit status.
int runDetectorSession(Host& host, const DetectOptions& options, DetectorReporter& reporter);

// --channel, --detector, --seconds and --set on `command`; the seconds option is returned.
CLI::Option* addDetectorOptions(CLI::App& command, DetectOptions& options);

}  // namespace qrmhost
