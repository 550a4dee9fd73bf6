// The temperatures detector end to end against the simulator's thermal stream: the matrices the
// host receives for a scene, the device temperatures, the raw-data switch, the shared event
// stream, its watchdog and a stalled camera on Stop.
#include <cmath>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "DetectorFixture.h"
#include "EventStream.h"
#include "TemperaturesDetection.h"
#include "ZL_ThermalRawDataImpl.h"
#include "host/Nuvlet/EventRaiser.h"
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
  uint32_t height = 0;
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
    const std::string event = name;
    for (uint32_t i = 0; i < properties->GetCount(); ++i) {
      if (auto* buffer = properties->GetBuffer(i)) {
        auto* matrix = Talvo::contract_cast<Talvo::Analytics::IFloatMatrix>(buffer);
        ASSERT_NE(matrix, nullptr);
        Matrix copy{
            time, matrix->GetWidth(), matrix->GetHeight(),
            std::vector<float>(matrix->GetValues(), matrix->GetValues() + matrix->GetWidth() * matrix->GetHeight())};
        record([&] { matrices_.push_back(std::move(copy)); });
      } else {
        double value = 0;
        ASSERT_TRUE(properties->GetNumber(i, &value));
        record([&] { levels_.push_back({event, time, value}); });
      }
    }
  }
  bool waitMatrices(size_t n) const {
    return waitUntil([&] { return matrices_.size() >= n; }, 10s);
  }
  // Until the matrices' frame times span `ms` milliseconds.
  bool waitSpan(uint64_t ms, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return !matrices_.empty() && matrices_.back().time - matrices_.front().time >= ms; },
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
  void startThermalCamera() { startCamera("VX-T40"); }
  void scene(const std::string& query) { ASSERT_EQ(camera->request("/sim/thermal?" + query).status, 200); }
  // A started temperatures detector reporting to `recorder`; its device temperatures are read
  // every `pollSeconds`.
  Talvo::GDRV::IVideoAnalytics* startDetector(ThermalRecorder& recorder, int pollSeconds = 60) {
    auto* detector = device->CreateVideoAnalytics(&recorder, 0, "temperatures");
    EXPECT_NE(detector, nullptr);
    if (!detector) return nullptr;
    detectors.push_back({detector, &recorder});
    EXPECT_EQ(apply(detector, {{"deviceTemperatureUpdateTimeout", pollSeconds}}), 0);
    detector->Start();
    EXPECT_TRUE(recorder.waitStarted());
    return detector;
  }
  // Arrival times (ms) of the camera's device-temperature reads.
  std::vector<int64_t> temperatureReadTimes() const {
    std::vector<int64_t> times;
    std::istringstream lines(camera->get("/sim/requests"));
    for (std::string line; std::getline(lines, line);) {
      if (line.empty()) continue;
      const auto entry = nlohmann::json::parse(line);
      if (entry["target"].get<std::string>().rfind(kTemperaturesRead, 0) == 0) times.push_back(entry["time"]);
    }
    return times;
  }
  std::string rawDataOnCamera() const {
    return camera->request("/control/control?read&section=thermal&uhu_raw_data", kAuth).body;
  }
  ThermalRecorder recorder;
  std::deque<ThermalRecorder> extraRecorders;
};

void expectEverywhere(const Matrix& matrix, float celsius, float tolerance) {
  ASSERT_EQ(matrix.values.size(), static_cast<size_t>(kWidth) * kHeight);
  for (size_t i = 0; i < matrix.values.size(); ++i) ASSERT_NEAR(matrix.values[i], celsius, tolerance) << "pixel " << i;
}

TEST_F(TemperaturesDetectionTest, ScenesArriveAsMatricesInCelsius) {
  startThermalCamera();
  struct Case {
    const char* scene;
    float background;
    float hot;        // at 40,30 (20x10); 0: no hot spot
    float tolerance;  // 0: exactly the raw value's temperature
  };
  // Gain 1 (0.4 K per step): raw 750 is 26.85 °C, raw 675 is -3.15 °C.
  const Case cases[] = {
      {"celsius=21.5&hot=&sensors=1&compressed=1&blocks=2", 21.5f, 0, kRawStep},
      {"celsius=-10&hot=55,40,30,20,10&compressed=1&blocks=3", -10.f, 55.f, kRawStep},
      {"celsius=-10&hot=55,40,30,20,10&compressed=0&blocks=1", -10.f, 55.f, kRawStep},
      {"celsius=26.85&hot=-3.15,40,30,20,10&compressed=1&blocks=2&gain=1", 26.85f, -3.15f, 0},
  };
  std::vector<Matrix> firsts;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scene);
    scene(c.scene);
    ThermalRecorder& reporter = extraRecorders.emplace_back();
    auto* detector = startDetector(reporter);
    ASSERT_TRUE(reporter.waitMatrices(1)) << logger.dump();
    const Matrix matrix = reporter.matrices().front();
    EXPECT_EQ(matrix.width, static_cast<uint32_t>(kWidth));
    EXPECT_EQ(matrix.height, static_cast<uint32_t>(kHeight));
    EXPECT_GT(matrix.time, 1600000000000u);
    if (c.hot == 0) {
      expectEverywhere(matrix, c.background, c.tolerance);
    } else {
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
          const bool inside = x >= 40 && x < 60 && y >= 30 && y < 40;
          ASSERT_NEAR(matrix.at(x, y), inside ? c.hot : c.background, c.tolerance) << x << "," << y;
        }
    }
    firsts.push_back(matrix);
    stop(detector, reporter);
  }
  EXPECT_EQ(firsts[1].values, firsts[2].values) << "compressed and uncompressed give the same matrix";
  EXPECT_TRUE(logger.contains(" Raw termal data frame 1, "));
  EXPECT_TRUE(logger.contains(": 160x120 min=-9.99, max=55.01"));
  EXPECT_TRUE(logger.contains(" Unexpected gain value")) << "gain 1 is still logged";
}

// The device's camera addressed over either family.
class TemperaturesOverBothFamilies : public TemperaturesDetectionTest, public testing::WithParamInterface<const char*> {};

TEST_P(TemperaturesOverBothFamilies, MatricesReachTheHost) {
  startCamera("VX-T40", 200ms, 1000ms, GetParam());
  scene("celsius=25.05");  // raw 7455
  startDetector(recorder);
  ASSERT_TRUE(recorder.waitMatrices(1)) << logger.dump();
  expectEverywhere(recorder.matrices().front(), static_cast<float>(7455 * 0.04 - 273.15), 0);
  EXPECT_FALSE(logger.contains("Error resolving host")) << logger.dump();
}

INSTANTIATE_TEST_SUITE_P(Hosts, TemperaturesOverBothFamilies, testing::Values("127.0.0.1", "[::1]"));

// Sensor 1 (40 °C) comes before sensor 0 (30 °C) in each picture; the frame time is the
// camera's clock in milliseconds.
TEST_F(TemperaturesDetectionTest, BothSensorsGiveTwoMatricesPerPictureSensorOneFirst) {
  startThermalCamera();
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
  for (const auto& picture : perPicture)
    EXPECT_EQ(picture.second, (std::vector<float>{static_cast<float>(7829 * 0.04 - 273.15),
                                                  static_cast<float>(7579 * 0.04 - 273.15)}))
        << picture.first;
}

TEST_F(TemperaturesDetectionTest, TheRawDataSwitchIsUndoneOnlyWhenThisChannelSetIt) {
  startThermalCamera();
  for (const bool enabledBefore : {false, true}) {
    SCOPED_TRACE(enabledBefore ? "enabled before" : "disabled before");
    ASSERT_EQ(camera->request(enabledBefore ? kRawDataEnable : kRawDataDisable, kAuth).status, 200);
    const size_t enables = count(kRawDataEnable);
    const size_t disables = count(kRawDataDisable);
    ThermalRecorder& reporter = extraRecorders.emplace_back();
    auto* detector = startDetector(reporter);
    ASSERT_TRUE(reporter.waitMatrices(1)) << logger.dump();
    EXPECT_NE(rawDataOnCamera().find("uhu_raw_data=enable"), std::string::npos);
    EXPECT_EQ(count(kRawDataEnable), enables + (enabledBefore ? 0 : 1));
    stop(detector, reporter);
    EXPECT_EQ(count(kRawDataDisable), disables + (enabledBefore ? 0 : 1));
    EXPECT_NE(rawDataOnCamera().find(enabledBefore ? "uhu_raw_data=enable" : "uhu_raw_data=disable"),
              std::string::npos);
  }
  EXPECT_TRUE(logger.contains(" Raw termal data was enabled on camera"));
  EXPECT_TRUE(logger.contains(" Disable raw termal data on camera"));
  EXPECT_TRUE(logger.contains(" Raw termal data has been already enabled on camera"));
  EXPECT_TRUE(logger.contains(" Driver has not enabled raw termal data on camera, so skip disabling"));
}

TEST_F(TemperaturesDetectionTest, DeviceTemperaturesBecomeLevelEvents) {
  startThermalCamera();
  scene("tin=35.5");                            // no TOU line
  auto* detector = startDetector(recorder, 0);  // 0: read again as soon as the camera answered
  ASSERT_TRUE(recorder.waitLevels(2)) << logger.dump();
  for (const Level& level : recorder.levels()) {
    EXPECT_EQ(level.name, "Level1");
    EXPECT_DOUBLE_EQ(level.value, 35.5);
    EXPECT_EQ(level.time % 1000, 0u);
  }
  const auto times = temperatureReadTimes();
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
  EXPECT_DOUBLE_EQ(last["Level1"], 36);
  EXPECT_DOUBLE_EQ(last["Level2"], 24.25);
  stop(detector, recorder);
}

// A camera time that is none in milliseconds since 1970 (negative, beyond 64 bits) raises
// nothing and is logged.
TEST_F(TemperaturesDetectionTest, ACameraTimeOutOfRangeRaisesNothing) {
  startThermalCamera();
  auto* detector = startDetector(recorder, 0);
  ASSERT_TRUE(recorder.waitLevels(2)) << logger.dump();
  for (const std::string tit : {"-5", "1e300"}) {
    scene("tit=" + tit);
    ASSERT_TRUE(logger.waitFor(" Device temperatures: TIT out of range: " + tit, 10s)) << logger.dump();
    EXPECT_EQ(levelOf(" Device temperatures: TIT out of range: " + tit), 3);
  }
  for (const Level& level : recorder.levels()) EXPECT_LT(level.time, 10000000000000u) << level.name;
  stop(detector, recorder);
}

// An unreadable connection text: settings are answered with 10 and the temperature reads go on
// trying (three failed tries would end the chain of a channel that gave up).
TEST_F(TemperaturesDetectionTest, AnUnreadableConnectionTextIsReported) {
  startThermalCamera();
  device->Connect("ftp://somewhere/");
  auto* detector = create("temperatures");
  ASSERT_NE(detector, nullptr);
  EXPECT_EQ(apply(detector, {{"deviceTemperatureUpdateTimeout", 0}}), 0);  // nothing to send
  detector->Start();
  ASSERT_TRUE(handler.waitStarted());
  EXPECT_EQ(apply(detector, {{"ambientTemperature", 20}}), 10);
  EXPECT_TRUE(waitUntilLogged(" Camera connection unknown", 6)) << logger.dump();
  stop(detector, handler);
}

TEST_F(TemperaturesDetectionTest, SettingsGoToTheThermalSection) {
  startThermalCamera();
  auto* detector = startDetector(recorder);
  const char kFixed[] =
      "/control/control?set&section=thermal&uhu_tcomp_configure=1+1&uhu_gain_mode=2+2&uhu_spec_auto=enable+enable"
      "&uhu_update_speed=2+2&uhu_temp_spread=2+2";
  struct Case {
    std::vector<std::pair<std::string, boost::any>> set;
    int code;
    std::string tail;  // empty: nothing sent
  };
  const Case cases[] = {
      {{{"ambientTemperature", 20}}, 0, "&uhu_tcomp_atm_temp=20+20"},
      {{{"objectEmissivity", 95}, {"atmosphericTransmission", 80}},
       0,
       "&uhu_tcomp_scn_emis=95+95&uhu_tcomp_atm_trns=80+80"},
      {{{"deviceTemperatureUpdateTimeout", 30}}, 0, ""},
      {{{"ambientTemperature", std::string("warm")}}, 7, ""},
  };
  for (const Case& c : cases) {
    const size_t sent = count(kFixed);
    EXPECT_EQ(apply(detector, c.set), c.code);
    if (c.tail.empty()) {
      EXPECT_EQ(count(kFixed), sent);
    } else {
      EXPECT_GE(indexOf(kFixed + c.tail), 0) << camera->get("/sim/requests");
    }
  }
  stop(detector, recorder);
}

TEST_F(TemperaturesDetectionTest, ChannelsOfOneDeviceShareOneEventStream) {
  startThermalCamera();
  ThermalRecorder& second = extraRecorders.emplace_back();
  auto* first = startDetector(recorder);
  auto* other = startDetector(second);
  ASSERT_TRUE(recorder.waitMatrices(1));
  ASSERT_TRUE(second.waitMatrices(1));
  stop(first, recorder);
  const size_t before = second.matrices().size();
  ASSERT_TRUE(second.waitMatrices(before + 3)) << "the stream goes on for the other channel";
  EXPECT_EQ(count(kEventStream), 1u);
  stop(other, second);
  EXPECT_FALSE(device->eventStreams().current()->running());
}

TEST_F(TemperaturesDetectionTest, TheWatchdogRestartsAStreamWithoutThermalData) {
  startThermalCamera();
  device->eventStreams().setWatchdogPeriod(boost::posix_time::milliseconds(700));
  camera->fault("path=/control/eventstream.jpg&no_thermal_after_parts=2");
  auto* detector = startDetector(recorder);
  ASSERT_TRUE(camera->waitForRequest(kEventStream, 3, 10s)) << logger.dump();
  stop(detector, recorder);
  const size_t restarts = logger.count(" No temperature data too long, trying to reconect");
  EXPECT_GE(restarts, 2u);
  EXPECT_EQ(device->eventStreams().current()->startCount(), restarts + 1) << "one restart per period";
  EXPECT_EQ(logger.count(" Stoped"), 1u) << "a restart never waits for the worker on the device's thread";
  EXPECT_LE(count(kEventStream), restarts + 1);
  EXPECT_GE(recorder.matrices().size(), 2 * restarts) << "each stream gave its two pictures' matrices";
}

// While matrices keep coming the watchdog (1 s here) never restarts the stream.
TEST_F(TemperaturesDetectionTest, TheWatchdogLeavesAStreamWithThermalDataAlone) {
  startThermalCamera();
  device->eventStreams().setWatchdogPeriod(boost::posix_time::seconds(1));
  auto* detector = startDetector(recorder);
  ASSERT_TRUE(recorder.waitSpan(3500, 20s)) << logger.dump();
  stop(detector, recorder);
  EXPECT_EQ(logger.count(" No temperature data too long, trying to reconect"), 0u);
  EXPECT_EQ(count(kEventStream), 1u);
}

TEST_F(TemperaturesDetectionTest, AStalledCameraDoesNotHoldStop) {
  startThermalCamera();
  camera->fault("path=/control/eventstream.jpg&stall_after_parts=1");
  auto* detector = startDetector(recorder);
  ASSERT_TRUE(camera->waitForRequest(kEventStream, 1, 10s));
  ASSERT_TRUE(recorder.waitMatrices(1)) << logger.dump();
  detector->Stop();
  EXPECT_TRUE(recorder.waitStopped()) << logger.dump();
  EXPECT_TRUE(logger.contains(" Stoped"));
  EXPECT_TRUE(logger.contains(" Exit thread"));
}

TEST(ThermalConversionTest, RawValuesToCelsius) {
  std::vector<uint16_t> every(16384);
  for (size_t v = 0; v < every.size(); ++v) every[v] = static_cast<uint16_t>(v);
  std::vector<float> out;
  ASSERT_EQ(Vantrel::ThermalConversion::convert(every.data(), every.size(), out), -1);
  for (size_t v = 0; v < every.size(); ++v)
    ASSERT_EQ(out[v], static_cast<float>(v * 0.04 - 273.15)) << "raw " << v << ": the double formula, exactly";
  EXPECT_FLOAT_EQ(out[6829], 0.01f);
  EXPECT_FLOAT_EQ(out[0], -273.15f);
  EXPECT_FLOAT_EQ(out[7315], 19.45f);

  struct Broken {
    std::vector<uint16_t> raw;
    long index;
  };
  const Broken cases[] = {{{16384, 7315}, 0}, {{7315, 7315, 0xFFFF}, 2}, {{7315, 0x8000}, 1}};
  for (const Broken& c : cases)
    EXPECT_EQ(Vantrel::ThermalConversion::convert(c.raw.data(), c.raw.size(), out), c.index);
}

// A sensor's raw data as the SDK hands it over, in the gain its header announces (0.04 K per
// step in gain 0, 0.4 K in gain 1); a value above 16383 anywhere breaks the frame at its first
// place whichever way the data came.
TEST(ThermalConversionTest, RawDataOfAPicture) {
  namespace sb = streambuilder;
  struct Case {
    const char* name;
    bool compressed;
    bool gainFlag;  // set: gain 0
    size_t pixels;  // of the 16 × 8 the header announces
    long brokenAt;  // a value above 16383 there; -1: none
    long expected;
  };
  const Case cases[] = {
      {"planes", true, true, 128, -1, Vantrel::ThermalConversion::kConverted},
      {"pairs", false, true, 128, -1, Vantrel::ThermalConversion::kConverted},
      {"another gain", true, false, 128, -1, Vantrel::ThermalConversion::kConverted},
      {"planes, broken", true, true, 128, 77, 77},
      {"pairs, broken", false, true, 128, 3, 3},
      {"another gain, broken", true, false, 128, 100, 100},
      {"too short", true, true, 100, -1, Vantrel::ThermalConversion::kNoData},
  };
  for (const Case& c : cases) {
    std::vector<uint16_t> raw(c.pixels);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint16_t>(5000 + 37 * i);
    if (c.brokenAt >= 0) raw[c.brokenAt] = 0x4000 | 7315;
    sb::ThermalBlock header;
    header.width = 16;
    header.height = 8;
    header.compressed = c.compressed;
    header.gainFlag = c.gainFlag;
    const std::string segment = sb::thermalSegments(header, raw)[0];
    const auto* bytes = reinterpret_cast<const uint8_t*>(segment.data());
    Zelta::ZL_ThermalRawDataImpl data(bytes);
    ASSERT_TRUE(data.appendBlock(bytes, bytes + 12, segment.size() - 12)) << c.name;
    std::vector<float> out(500, -1.0f);  // a pooled vector of another frame size
    ASSERT_EQ(Vantrel::ThermalConversion::convert(data, out), c.expected) << c.name;
    if (c.expected != Vantrel::ThermalConversion::kConverted) continue;
    ASSERT_EQ(out.size(), 128u) << c.name;
    for (size_t i = 0; i < out.size(); ++i)
      ASSERT_EQ(out[i], static_cast<float>(raw[i] * (c.gainFlag ? 0.04 : 0.4) - 273.15)) << c.name << ", pixel " << i;
  }
}

TEST(AnswerValueTest, TextAfterTheKeyToTheLineEnd) {
  EXPECT_EQ(Vantrel::answerValue("a=1\r\nuhu_raw_data=enable\r\n", "uhu_raw_data").value_or("?"), "enable");
  EXPECT_EQ(Vantrel::answerValue("TIT=17\nTIN=3", "TIN").value_or("?"), "3");
  EXPECT_FALSE(Vantrel::answerValue("TIT=17\r\n", "TOU"));
}

}  // namespace
