// The temperatures detector end to end against the simulator's thermal stream: matrices, device
// temperatures, the raw-data switch, the shared event stream, its watchdog, a stalled camera.
#include <map>

#include "DetectorFixture.h"
#include "EventStream.h"
#include "TemperaturesDetection.h"
#include "ZL_ThermalRawDataImpl.h"
#include "tests/sdk/StreamBuilder.h"

namespace {

constexpr int kWidth = 160;  // the simulator's thermal sensor
constexpr int kHeight = 120;
constexpr float kRawStep = 0.04f;

const char kRawDataDisable[] = "/control/control?set&section=thermal&uhu_raw_data=disable";
const char kRawDataEnable[] = "/control/control?set&section=thermal&uhu_raw_data=enable";
const char kEventStream[] = "/control/eventstream.jpg";
const char kTemperaturesRead[] =
    "/control/rcontrol?action=getText&message=TIT=$(FPR.TIT)%0DTIN=$(SEN.TIN.CELSIUS)%0DTOU=$(SEN.TOU.CELSIUS)";

struct Matrix {
  uint64_t time = 0;
  uint32_t width = 0;
  std::vector<float> values;
  float at(int x, int y) const { return values[static_cast<size_t>(y) * width + x]; }
};

struct Level {
  std::string name;
  uint64_t time;
  double value;
};

// A host handler that takes periodical events with their properties.
class ThermalRecorder : public RecordingAnalyticsHandler, public Talvo::Analytics::IPeriodicalEventHandler {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    if (Talvo::isContractName<Talvo::Analytics::IPeriodicalEventHandler>(typeName))
      return static_cast<Talvo::Analytics::IPeriodicalEventHandler*>(this);
    return RecordingAnalyticsHandler::QueryContract(typeName);
  }
  void PeriodicalEvent(Talvo::IContract*, const char* name, uint64_t time, const char*,
                       Talvo::Analytics::IEventPropertySet* properties) override {
    for (uint32_t i = 0; i < properties->GetCount(); ++i) {
      if (auto* buffer = properties->GetBuffer(i)) {
        auto* m = Talvo::contract_cast<Talvo::Analytics::IFloatMatrix>(buffer);
        ASSERT_NE(m, nullptr);
        Matrix copy{time, m->GetWidth(),
                    std::vector<float>(m->GetValues(), m->GetValues() + m->GetWidth() * m->GetHeight())};
        record([&] { matrices_.push_back(std::move(copy)); });
      } else {
        double value = 0;
        ASSERT_TRUE(properties->GetNumber(i, &value));
        record([&] { levels_.push_back({name, time, value}); });
      }
    }
  }
  // Until `n` matrices came whose frame times span `ms` milliseconds, or `n` level events.
  bool waitMatrices(size_t n, uint64_t ms = 0, std::chrono::milliseconds deadline = 10s) const {
    return waitUntil([&] { return matrices_.size() >= n && matrices_.back().time - matrices_.front().time >= ms; },
                     deadline);
  }
  bool waitLevels(size_t n) const {
    return waitUntil([&] { return levels_.size() >= n; }, 10s);
  }
  std::vector<Matrix> matrices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return matrices_;
  }
  std::vector<Level> levels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return levels_;
  }

 private:
  std::vector<Matrix> matrices_;
  std::vector<Level> levels_;
};

class TemperaturesDetectionTest : public DetectorTest {
 protected:
  void scene(const std::string& query) { ASSERT_EQ(camera->request("/sim/thermal?" + query).status, 200); }
  // A started temperatures detector reporting to `recorder`; its device temperatures are read
  // every `pollSeconds`.
  Talvo::GDRV::IVideoAnalytics* startDetector(ThermalRecorder& recorder, int pollSeconds = 60) {
    auto* detector = create("temperatures", &recorder);
    EXPECT_NE(detector, nullptr);
    if (!detector) return nullptr;
    EXPECT_EQ(apply(detector, {{"deviceTemperatureUpdateTimeout", pollSeconds}}), 0);
    detector->Start();
    EXPECT_TRUE(recorder.waitStarted());
    return detector;
  }
  std::string rawDataOnCamera() const {
    return camera->request("/control/control?read&section=thermal&uhu_raw_data", kAuth).body;
  }
  ThermalRecorder recorder;
  std::deque<ThermalRecorder> extraRecorders;
};

// The camera addressed over IPv6 (the simulator listens on both families). Each run switches the
// camera's raw data on, and off again at its end only when it was off before.
TEST_F(TemperaturesDetectionTest, ScenesArriveAsMatricesInCelsius) {
  startCamera("VX-T40", 200ms, 1000ms, "[::1]");
  struct Case {
    const char* scene;
    float background;
    float hot;        // at 40,30 (20x10); 0: no hot spot
    float tolerance;  // 0: exactly the raw value's temperature
    bool rawDataOn;   // before the run
  };
  // Gain 1 (0.4 K per step): raw 750 is 26.85 °C, raw 675 is -3.15 °C.
  const Case cases[] = {
      {"celsius=21.5&hot=&sensors=1&compressed=1&blocks=2", 21.5f, 0, kRawStep, false},
      {"celsius=-10&hot=55,40,30,20,10&compressed=1&blocks=3", -10.f, 55.f, kRawStep, true},
      {"celsius=-10&hot=55,40,30,20,10&compressed=0&blocks=1", -10.f, 55.f, kRawStep, false},
      {"celsius=26.85&hot=-3.15,40,30,20,10&compressed=1&blocks=2&gain=1", 26.85f, -3.15f, 0, true},
  };
  std::vector<Matrix> firsts;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scene);
    scene(c.scene);
    ASSERT_EQ(camera->request(c.rawDataOn ? kRawDataEnable : kRawDataDisable, kAuth).status, 200);
    const size_t enables = count(kRawDataEnable), disables = count(kRawDataDisable);
    ThermalRecorder& reporter = extraRecorders.emplace_back();
    auto* detector = startDetector(reporter);
    ASSERT_TRUE(reporter.waitMatrices(1)) << logger.dump();
    EXPECT_NE(rawDataOnCamera().find("uhu_raw_data=enable"), std::string::npos);
    EXPECT_EQ(count(kRawDataEnable), enables + !c.rawDataOn);
    const Matrix matrix = reporter.matrices().front();
    ASSERT_EQ(matrix.values.size(), static_cast<size_t>(kWidth) * kHeight);
    EXPECT_EQ(matrix.width, static_cast<uint32_t>(kWidth));
    EXPECT_GT(matrix.time, 1600000000000u);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const bool inside = c.hot != 0 && x >= 40 && x < 60 && y >= 30 && y < 40;
        ASSERT_NEAR(matrix.at(x, y), inside ? c.hot : c.background, c.tolerance) << x << "," << y;
      }
    firsts.push_back(matrix);
    stop(detector, reporter);
    EXPECT_EQ(count(kRawDataDisable), disables + !c.rawDataOn);
    EXPECT_NE(rawDataOnCamera().find(c.rawDataOn ? "uhu_raw_data=enable" : "uhu_raw_data=disable"), std::string::npos);
  }
  EXPECT_EQ(firsts[1].values, firsts[2].values) << "compressed and uncompressed give the same matrix";
  EXPECT_TRUE(logger.contains(" Raw termal data frame 1, "));
  EXPECT_TRUE(logger.contains(": 160x120 min=-9.99, max=55.01"));
  EXPECT_TRUE(logger.contains(" Unexpected gain value")) << "gain 1 is still logged";
  EXPECT_TRUE(logger.contains(" Raw termal data has been already enabled on camera"));
  EXPECT_TRUE(logger.contains(" Driver has not enabled raw termal data on camera, so skip disabling"));
}

// Sensor 1 (40 °C) comes before sensor 0 (30 °C) in each picture; the frame time is the
// camera's clock in milliseconds.
TEST_F(TemperaturesDetectionTest, BothSensorsGiveTwoMatricesPerPictureSensorOneFirst) {
  startCamera("VX-T40");
  scene("celsius=30&sensor1=40&sensors=2");
  const auto nowMs = [] {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
  };
  const uint64_t before = nowMs();
  startDetector(recorder);
  ASSERT_TRUE(recorder.waitMatrices(6)) << logger.dump();
  const uint64_t after = nowMs();
  std::map<uint64_t, std::vector<float>> perPicture;  // the first pixel of each matrix in arrival order
  for (const Matrix& matrix : recorder.matrices()) {
    perPicture[matrix.time].push_back(matrix.values[0]);
    EXPECT_GE(matrix.time + 5000, before);
    EXPECT_LE(matrix.time, after + 5000);
  }
  perPicture.erase(std::prev(perPicture.end()));  // the newest picture may still be coming in
  ASSERT_FALSE(perPicture.empty());
  const std::vector<float> expected{static_cast<float>(7829 * 0.04 - 273.15), static_cast<float>(7579 * 0.04 - 273.15)};
  for (const auto& picture : perPicture) EXPECT_EQ(picture.second, expected) << picture.first;
}

// The device temperatures as level events, read again as soon as the camera answered (but never
// within 200 ms); a camera time that is none in milliseconds since 1970 (negative, beyond 64
// bits) raises nothing and is logged.
TEST_F(TemperaturesDetectionTest, DeviceTemperaturesBecomeLevelEvents) {
  startCamera("VX-T40");
  scene("tin=35.5");                            // no TOU line
  auto* detector = startDetector(recorder, 0);  // 0: read again as soon as the camera answered
  ASSERT_TRUE(recorder.waitLevels(2)) << logger.dump();
  for (const Level& level : recorder.levels()) {
    EXPECT_EQ(level.name, "Level1");
    EXPECT_DOUBLE_EQ(level.value, 35.5);
    EXPECT_EQ(level.time % 1000, 0u);
  }
  const auto times = requestTimes(kTemperaturesRead);
  ASSERT_GE(times.size(), 2u);
  for (size_t i = 1; i < times.size(); ++i)
    EXPECT_GE(times[i] - times[i - 1], 199) << "again at once, but never within 200 ms of the last read";
  EXPECT_TRUE(logger.contains(", TOU=none"));

  scene("tin=36&tou=24.25");
  const size_t seen = recorder.levels().size();
  ASSERT_TRUE(recorder.waitLevels(seen + 4)) << logger.dump();
  const auto levels = recorder.levels();
  std::map<std::string, double> last;
  for (size_t i = seen; i < levels.size(); ++i) last[levels[i].name] = levels[i].value;
  EXPECT_EQ(last, (std::map<std::string, double>{{"Level1", 36}, {"Level2", 24.25}}));

  for (const std::string tit : {"-5", "1e300"}) {
    scene("tit=" + tit);
    ASSERT_TRUE(logger.waitFor(" Device temperatures: TIT out of range: " + tit, 10s)) << logger.dump();
    EXPECT_EQ(levelOf(" Device temperatures: TIT out of range: " + tit), 3);
  }
  for (const Level& level : recorder.levels()) EXPECT_LT(level.time, 10000000000000u) << level.name;
  stop(detector, recorder);
}

// One stream for all channels of a device; while matrices keep coming the watchdog (1 s here)
// never restarts it.
TEST_F(TemperaturesDetectionTest, ChannelsOfOneDeviceShareOneEventStreamThatTheWatchdogLeavesAlone) {
  startCamera("VX-T40");
  device->eventStreams().setWatchdogPeriod(boost::posix_time::seconds(1));
  ThermalRecorder& second = extraRecorders.emplace_back();
  auto* first = startDetector(recorder);
  auto* other = startDetector(second);
  ASSERT_TRUE(recorder.waitMatrices(1));
  stop(first, recorder);
  ASSERT_TRUE(second.waitMatrices(1, 3500, 20s)) << "the stream goes on for the other channel";
  stop(other, second);
  EXPECT_EQ(logger.count(" No temperature data too long, trying to reconect"), 0u);
  EXPECT_EQ(count(kEventStream), 1u);
  EXPECT_FALSE(device->eventStreams().current()->running());
}

// A stream whose pictures stop carrying thermal data is restarted once per watchdog period, never
// waiting for the worker on the device's thread; a camera that stalls does not hold Stop.
TEST_F(TemperaturesDetectionTest, TheWatchdogRestartsAStreamWithoutThermalDataAndAStallDoesNotHoldStop) {
  startCamera("VX-T40");
  device->eventStreams().setWatchdogPeriod(boost::posix_time::milliseconds(700));
  camera->fault("path=/control/eventstream.jpg&no_thermal_after_parts=2");
  auto* detector = startDetector(recorder);
  ASSERT_TRUE(camera->waitForRequest(kEventStream, 3, 10s)) << logger.dump();
  stop(detector, recorder);
  const size_t restarts = logger.count(" No temperature data too long, trying to reconect");
  EXPECT_GE(restarts, 2u);
  EXPECT_EQ(device->eventStreams().current()->startCount(), restarts + 1);
  EXPECT_EQ(logger.count(" Stoped"), 1u);
  EXPECT_LE(count(kEventStream), restarts + 1);
  EXPECT_GE(recorder.matrices().size(), 2 * restarts) << "each stream gave its two pictures' matrices";

  camera->fault("clear=1");
  camera->fault("path=/control/eventstream.jpg&stall_after_parts=1");
  ThermalRecorder& stalled = extraRecorders.emplace_back();
  detector = startDetector(stalled);
  ASSERT_TRUE(stalled.waitMatrices(1)) << logger.dump();
  stop(detector, stalled);
  EXPECT_EQ(logger.count(" Exit thread"), 2u);
}

// A value above 16383 anywhere in a sensor's raw data breaks the frame at its first place
// whichever way the data came, and data shorter than its header announces is none. (Whole
// frames in both gains: ScenesArriveAsMatricesInCelsius.)
TEST(ThermalConversionTest, RawDataOfAPicture) {
  struct Case {
    bool compressed;
    bool gainFlag;  // set: gain 0
    size_t pixels;  // of the 16 × 8 the header announces
    long brokenAt;  // a value above 16383 there; -1: none
    long expected;
  };
  const Case cases[] = {{true, true, 128, 77, 77},
                        {false, true, 128, 3, 3},
                        {true, false, 128, 100, 100},
                        {true, true, 100, -1, Vantrel::ThermalConversion::kNoData}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.compressed << c.gainFlag << " " << c.pixels << " " << c.brokenAt);
    std::vector<uint16_t> raw(c.pixels);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint16_t>(5000 + 37 * i);
    if (c.brokenAt >= 0) raw[c.brokenAt] = 0x4000 | 7315;
    const std::string segment =
        streambuilder::thermalSegments({0, 0, c.compressed, 0, 0, true, c.gainFlag, 16, 8}, raw)[0];
    const auto* bytes = reinterpret_cast<const uint8_t*>(segment.data());
    Zelta::ZL_ThermalRawDataImpl data(bytes);
    ASSERT_TRUE(data.appendBlock(bytes, bytes + 12, segment.size() - 12));
    std::vector<float> out;
    EXPECT_EQ(Vantrel::ThermalConversion::convert(data, out), c.expected);
  }
}

}  // namespace
