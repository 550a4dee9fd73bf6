// The fixture of the detector tests: a device of a repository model connected to the camera
// simulator, a detector of it and the host objects it reports to. Header-only.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <boost/any.hpp>
#include <nlohmann/json.hpp>

#include "CamsimProcess.h"
#include "CapturingLogger.h"
#include "Device.h"
#include "Recorder.h"
#include "ShippedDevice.h"
#include "TestChannels.h"
#include "host/Analytics.h"
#include "host/Nuvlet/GlobalService.h"

using namespace std::chrono_literals;
using namespace std::string_literals;

// Records what a detector reports.
class RecordingAnalyticsHandler : public Talvo::GDRV::IVideoAnalyticsHandler, public Recorder {
 public:
  struct Happening {
    std::string name;
    Talvo::GDRV::EventPhase phase;
    uint64_t time;
  };
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return Talvo::isContractName<Talvo::GDRV::IVideoAnalyticsHandler>(typeName) ? this : nullptr;
  }
  void Failed(Talvo::IContract*, int32_t) override {}
  void Started(Talvo::IContract*) override {
    record([&] { ++started; });
  }
  void Stopped(Talvo::IContract*) override {
    record([&] { ++stopped; });
  }
  void Event(Talvo::IContract*, const char* name, Talvo::GDRV::EventPhase phase, uint64_t time, const char*,
             const char*) override {
    record([&] { events.push_back({name ? name : "", phase, time}); });
  }
  void Data(Talvo::IContract*, const char*, uint64_t, const char*) override {}

  bool waitStarted() const {
    return waitUntil([&] { return started >= 1; }, 10s);
  }
  // `n` Stops; with n < 0 every Start answered by a Stop.
  bool waitStopped(int n) const {
    return waitUntil([&] { return stopped >= (n < 0 ? started : n); }, 10s);
  }
  bool waitEvents(size_t n, std::chrono::milliseconds deadline = 10s) const {
    return waitUntil([&] { return events.size() >= n; }, deadline);
  }
  std::vector<Happening> happenings() const { return snapshot(&RecordingAnalyticsHandler::events); }

 private:
  int started = 0;
  int stopped = 0;
  std::vector<Happening> events;
};

// The host's visual elements: rectangles (x, y, w, h) or polylines, owned by the list.
class TestVisualList : public Talvo::Analytics::IVisualEnumerator {
 public:
  using Points = std::vector<std::pair<double, double>>;
  static TestVisualList rectangles(const std::vector<std::vector<double>>& items) {
    TestVisualList list;
    for (const auto& r : items) list.items_.push_back(std::make_unique<Rect>(r[0], r[1], r[0] + r[2], r[1] + r[3]));
    return list;
  }
  static TestVisualList polylines(const std::vector<Points>& lines) {
    TestVisualList list;
    for (const auto& line : lines) {
      auto points = std::make_unique<TestVisualList>();
      for (const auto& p : line) points->items_.push_back(std::make_unique<Point>(p.first, p.second));
      list.items_.push_back(std::move(points));
    }
    return list;
  }
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    if (Talvo::isContractName<Talvo::GDRV::IBasicEnumerator>(typeName))
      return static_cast<Talvo::GDRV::IBasicEnumerator*>(this);
    return Talvo::isContractName<Talvo::Analytics::IVisualEnumerator>(typeName) ? this : nullptr;
  }
  void Reset() override { at_ = 0; }
  bool MoveNext() override { return at_ < items_.size() ? (++at_, true) : false; }
  Talvo::IContract* Current() override { return at_ ? items_[at_ - 1].get() : nullptr; }

 private:
  template <class Contract>
  struct Contracted : Contract {
    void* Cast(const char* n) override { return QueryContract(n); }
    void* QueryContract(const char* n) override { return Talvo::isContractName<Contract>(n) ? this : nullptr; }
  };
  struct Rect : Contracted<Talvo::Analytics::IRectangleValue> {
    Rect(double l, double t, double r, double b) : v{l, t, r, b} {}
    double GetLeft() override { return v[0]; }
    double GetTop() override { return v[1]; }
    double GetRight() override { return v[2]; }
    double GetBottom() override { return v[3]; }
    double v[4];
  };
  struct Point : Contracted<Talvo::Analytics::IPointValue> {
    Point(double x, double y) : v{x, y} {}
    double GetX() override { return v[0]; }
    double GetY() override { return v[1]; }
    double v[2];
  };
  std::vector<std::unique_ptr<Talvo::IContract>> items_;
  size_t at_ = 0;
};

// The simulator's user is "admin" with the password "s3cr@t", which no log line may show.
class DetectorTest : public ::testing::Test {
 protected:
  static constexpr const char* kAuth = "Authorization: Basic YWRtaW46czNjckB0\r\n";

  // Short timings keep the tests quick (a `poll` of 0: the product's own); with a cameraHost of
  // "[::1]" the simulator listens on both families and the device addresses it over IPv6.
  void startCamera(const std::string& model, std::chrono::milliseconds poll = 200ms,
                   std::chrono::milliseconds endDelay = 1000ms, const std::string& cameraHost = "127.0.0.1") {
    std::vector<std::string> args{"--model", model, "--user", "admin", "--password", "s3cr@t"};
    if (cameraHost.front() == '[') args.insert(args.end(), {"--bind", "::"});
    camera = std::make_unique<CamsimProcess>(args);
    device = makeShippedDevice(model, nullptr, &logger);
    if (poll.count() > 0) device->detectorManager().setTimings(poll, endDelay);
    device->Connect(("http://admin:s3cr%40t@" + cameraHost + ":" + std::to_string(camera->httpPort()) + "/").c_str());
  }
  // A further handler that lives as long as the fixture.
  RecordingAnalyticsHandler& newHandler() { return extraHandlers.emplace_back(); }
  Talvo::GDRV::IVideoAnalytics* create(const std::string& id, RecordingAnalyticsHandler* reporter = nullptr) {
    if (!reporter) reporter = &handler;
    auto* made = device->CreateVideoAnalytics(reporter, 0, id.c_str());
    if (made) detectors.push_back({made, reporter});
    return made;
  }
  // Starts and waits until the check/create batch is finished (`n` batches so far).
  void startAndWait(Talvo::GDRV::IVideoAnalytics* detector, size_t n = 1) {
    detector->Start();
    ASSERT_TRUE(logger.waitForCount(kChecked, n, 10s)) << logger.dump();
  }
  // The level of the first line containing `part`; -1 when none.
  int levelOf(const std::string& part) const {
    for (const auto& line : logger.lines())
      if (line.message.find(part) != std::string::npos) return line.level;
    return -1;
  }
  void stop(Talvo::GDRV::IVideoAnalytics* detector, RecordingAnalyticsHandler& reporter, int n = 1) {
    detector->Stop();
    ASSERT_TRUE(reporter.waitStopped(n)) << logger.dump();
  }
  int trigger(const std::string& event) { return camera->request("/sim/trigger?event=" + event).status; }
  // Waits for `n` more polls of the event-variable log.
  void waitPolls(size_t n) { ASSERT_TRUE(camera->waitForRequest(kPoll, count(kPoll) + n, 10s)); }
  size_t count(const std::string& prefix) const { return camera->requestTargets(prefix).size(); }
  nlohmann::json profiles() const { return nlohmann::json::parse(camera->get("/sim/profiles")); }
  // Index of the first request `target` in the log, or -1.
  long indexOf(const std::string& target) const {
    const auto targets = camera->requestTargets();
    const auto found = std::find(targets.begin(), targets.end(), target);
    return found == targets.end() ? -1 : static_cast<long>(found - targets.begin());
  }
  // Arrival times (ms) of the requests starting with `prefix`.
  std::vector<int64_t> requestTimes(const std::string& prefix) const {
    std::vector<int64_t> times;
    std::istringstream lines(camera->get("/sim/requests"));
    for (std::string line; std::getline(lines, line);) {
      if (line.empty()) continue;
      const auto entry = nlohmann::json::parse(line);
      if (entry["target"].get<std::string>().rfind(prefix, 0) == 0) times.push_back(entry["time"]);
    }
    return times;
  }
  // Applies values through the detector's adjuster; the code its handler heard.
  int apply(Talvo::GDRV::IVideoAnalytics* detector, const std::vector<std::pair<std::string, boost::any>>& values) {
    auto* adjuster = Talvo::contract_cast<Talvo::IAsyncAdjuster>(detector);
    EXPECT_NE(adjuster, nullptr);
    for (const auto& v : values) {
      const char* name = v.first.c_str();
      if (const int* i = boost::any_cast<int>(&v.second)) adjuster->SetValue(name, *i);
      if (const bool* b = boost::any_cast<bool>(&v.second)) adjuster->SetValue(name, *b);
      if (const double* d = boost::any_cast<double>(&v.second)) adjuster->SetValue(name, *d);
      if (const std::string* s = boost::any_cast<std::string>(&v.second)) adjuster->SetValue(name, s->c_str());
    }
    RecordingActionHandler done;
    adjuster->ApplySettings(&done);
    EXPECT_TRUE(done.waitForResults(1, 10s)) << logger.dump();
    return done.results().empty() ? -1 : done.results().front();
  }
  void TearDown() override {
    for (auto& made : detectors) made.first->Destroy();
    for (auto& made : detectors) EXPECT_TRUE(made.second->waitStopped(-1));
    device.reset();
    for (const auto& line : logger.messages()) EXPECT_EQ(line.find("s3cr"), std::string::npos) << line;
  }

  static constexpr const char* kChecked = " Checking profiles for '";  // a check/create batch ended
  static constexpr const char* kPoll = "/api/json/status/messagesystem/eventvariables/log";
  std::shared_ptr<Talvo::Utility::GlobalService> service = Talvo::Utility::GlobalService::instance();
  CapturingLogger logger;
  RecordingAnalyticsHandler handler;
  std::deque<RecordingAnalyticsHandler> extraHandlers;
  std::unique_ptr<CamsimProcess> camera;
  std::unique_ptr<Vantrel::Device> device;
  std::vector<std::pair<Talvo::GDRV::IVideoAnalytics*, RecordingAnalyticsHandler*>> detectors;
};
