// The detectors of a VX-T40 against the simulator: each kind's settings requests and number
// formats, failures of a wrong type, a camera error, an empty answer; the thermal detector's created
// profile with its lens-aware area, a lens query that does not hold Start; the temperatures
// detector on the thermal stream: matrices, device temperatures, the raw-data switch, the shared
// event stream, its watchdog, a stalled camera.
#include <future>
#include <map>

#include "DetectorFixture.h"
#include "EventStream.h"
#include "TemperaturesDetection.h"
#include "ZL_ThermalRawDataImpl.h"
#include "tests/sdk/StreamBuilder.h"

namespace {

// The settings requests of these detectors.
bool isSetting(const std::string& target) {
  for (const char* part : {"set_profile=env:", "tap_debounce=", "section=thermal&uhu_tcomp"})
    if (target.find(part) != std::string::npos) return true;
  return false;
}

TEST_F(DetectorTest, EachDetectorKindSendsItsOwnSettings) {
  const std::string temperatures =
      "/control/control?set&section=thermal&uhu_tcomp_configure=1+1&uhu_gain_mode=2+2&uhu_spec_auto=enable+enable"
      "&uhu_update_speed=2+2&uhu_temp_spread=2+2";
  const std::string area = "/control/control?section=event_env&set_profile=env:AN&ara_area=1,poly%3D1280x480/640x720";
  const std::string emissivity = temperatures + "&uhu_tcomp_scn_emis=95+95&uhu_tcomp_atm_trns=80+80";
  const std::string named = area + "&_profilename=Hall&ara_unit=fahrenheit&ara_show_meter=1";
  const std::string refused = "path=/control/control%3Fset%26section%3Devent_env%26tap&status=404";
  const std::string empty = "path=/control/control%3Fsection%3Devent_env%26set_profile&empty=1";
  struct Case {
    const char* detector;
    const char* sensor;  // in the created profile; "": none
    std::vector<std::pair<std::string, boost::any>> set;
    std::string fault;  // for the setting's request
    int code;
    std::vector<std::string> sent;
  };
  const Case cases[] = {
      {"ir", "ir", {{"threshold", 7}}, "", 0, {"/control/control?section=event_env&set_profile=env:AN&ir_lvl=7"}},
      {"ir", "ir", {{"tapDebounce", 300}}, "", 0, {}},
      {"ir", "ir", {{"threshold", "high"s}}, "", 4, {}},
      {"shock", "gy", {{"tapDebounce", 300}}, "", 0, {"/control/control?set&section=event_env&tap_debounce=300"}},
      {"shock", "gy", {{"tapDebounce", 1.5}}, "", 4, {}},
      {"shock", "gy", {{"tapDebounce", 200}}, refused, 0, {"/control/control?set&section=event_env&tap_debounce=200"}},
      {"thermal", "ara", {{"millipercent", 0.0004}}, "", 0, {area + "&ara_millipercent=0.001"}},
      {"thermal", "ara", {{"millipercent", 0.25}}, "", 0, {area + "&ara_millipercent=0.250"}},
      {"thermal", "ara", {{"level", 40}}, "", 0, {area + "&ara_lvl=40.0"}},
      {"thermal", "ara", {{"detectorName", "Hall"s}, {"showMeter", true}, {"unit", "fahrenheit"s}}, "", 0, {named}},
      {"thermal", "ara", {{"level", "hot"s}}, "", 7, {}},
      {"thermal", "ara", {{"level", 41}}, empty, 1, {area + "&ara_lvl=41.0"}},
      {"temperatures", "", {{"ambientTemperature", 20}}, "", 0, {temperatures + "&uhu_tcomp_atm_temp=20+20"}},
      {"temperatures", "", {{"objectEmissivity", 95}, {"atmosphericTransmission", 80}}, "", 0, {emissivity}},
      {"temperatures", "", {{"deviceTemperatureUpdateTimeout", 30}}, "", 0, {}},
      {"temperatures", "", {{"ambientTemperature", "warm"s}}, "", 7, {}},
  };
  startCamera("VX-T40");
  Talvo::GDRV::IVideoAnalytics* detector = nullptr;
  RecordingAnalyticsHandler* reporter = nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.detector << " " << c.set.front().first << " " << c.fault);
    if (&c == cases || std::string(c.detector) != (&c)[-1].detector) {
      if (detector) stop(detector, *reporter);
      reporter = &newHandler();
      detector = create(c.detector, reporter);
      ASSERT_NE(detector, nullptr);
      auto lines = TestVisualList::polylines({{{0.75, 0.5}, {0.25, 0.25}}});
      auto* visual = Talvo::contract_cast<Talvo::Analytics::IVisualAsyncAdjuster>(detector);
      ASSERT_TRUE(c.sensor != std::string("ara") || visual->SetPolylineArray("polyline", &lines) == 0);
      if (*c.sensor) {
        startAndWait(detector, logger.count(kChecked) + 1);
        EXPECT_EQ(count("/control/control?set&section=event_env&env=AN:_profilename=AN:env_dead=0:env_sens=" +
                        std::string(c.sensor)),
                  1u);
      } else {
        detector->Start();
      }
      ASSERT_TRUE(reporter->waitStarted()) << logger.dump();
    }
    if (!c.fault.empty()) camera->fault(c.fault + "&count=1");
    const size_t before = camera->requestTargets().size();
    EXPECT_EQ(apply(detector, c.set), c.code);
    const auto targets = camera->requestTargets();
    std::vector<std::string> sent;
    std::copy_if(targets.begin() + before, targets.end(), std::back_inserter(sent), isSetting);
    EXPECT_EQ(sent, c.sent);
  }
  stop(detector, *reporter);
  EXPECT_EQ(levelOf(" Error: "), 3);
  EXPECT_EQ(levelOf(" Bad param type, error:"), 3);
  EXPECT_TRUE(logger.contains(" Send parameters: /control/control?section=event_env&set_profile=env:AN&"));
}

const char kDefaults[] =
    ":ara_measurement_mode=absolute:ara_mode=pixel:ara_millipercent=0.100:ara_type=level:ara_reference_area="
    ":ara_reference_tolerance=0:ara_unit=celcius:ara_lvl=37.5:ara_lvl_cmp=higher:ara_range_min=30.0"
    ":ara_range_max=50.0:ara_range_cmp=inside:ara_act=every:ara_show_area=off:ara_show_meter=0"
    ":ara_show_temperature=off:ara_show_coordinates=off:ara_show_crosshair=off:ara_show_name=off";

using ThermalDetectionTest = DetectorTest;

// The created profile carries the area in the camera's 1280 x 960 with its vertical axis up, and
// every parameter's default. Both lenses shown: EachDetectorKindSendsItsOwnSettings.
TEST_F(ThermalDetectionTest, TheProfileCarriesTheAreaAndEveryParameter) {
  startCamera("VX-T40");
  EXPECT_EQ(camera->request("/control/control?set&section=imagecontrol&camera=right", kAuth).status, 200);
  auto* thermal = create("thermal");
  auto lines = TestVisualList::polylines({{{0.75, 0.5}, {0.25, 0.25}}});
  EXPECT_EQ(Talvo::contract_cast<Talvo::Analytics::IVisualAsyncAdjuster>(thermal)->SetPolylineArray("polyline", &lines),
            0);
  startAndWait(thermal);
  EXPECT_GE(indexOf("/control/control?set&section=event_env&env=AN:_profilename=AN:env_dead=0:env_sens=ara"
                    ":ara_area=1,poly%3D960x480/320x720" +
                    std::string(kDefaults)),
            0)
      << camera->get("/sim/requests");
  EXPECT_TRUE(logger.contains(" Set polylines: "));
  EXPECT_EQ(apply(thermal, {{"level", 40.0}}), 0);
  EXPECT_EQ(camera->requestTargets("/control/control?section=event_env&set_profile=env:AN&").back(),
            "/control/control?section=event_env&set_profile=env:AN&ara_area=1,poly%3D960x480/320x720&ara_lvl=40.0");
  stop(thermal, handler);
}

// The lens query of a run goes out from the device's thread: Start returns while the camera
// holds the answer back, and Stop cuts the wait short.
TEST_F(ThermalDetectionTest, StartDoesNotWaitForTheLensQuery) {
  startCamera("VX-T40");
  camera->fault("path=/control/control%3Fread%26section%3Dimagecontrol&count=1&delay_ms=20000");
  auto* thermal = create("thermal");
  auto start = std::async(std::launch::async, [&] { thermal->Start(); });
  EXPECT_EQ(start.wait_for(10s), std::future_status::ready) << "Start waited for the camera";
  ASSERT_TRUE(handler.waitStarted());
  ASSERT_TRUE(camera->waitForRequest("/control/control?read&section=imagecontrol&camera", 1, 10s));
  stop(thermal, handler);
}

constexpr int kWidth = 160, kHeight = 120;  // the simulator's thermal sensor
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
  std::vector<Matrix> matrices() const { return snapshot(&ThermalRecorder::matrices_); }
  std::vector<Level> levels() const { return snapshot(&ThermalRecorder::levels_); }

 private:
  std::vector<Matrix> matrices_;
  std::vector<Level> levels_;
};

class TemperaturesDetectionTest : public DetectorTest {
 protected:
  void scene(const std::string& query) { ASSERT_EQ(camera->request("/sim/thermal?" + query).status, 200); }
  // A started temperatures detector reading the device temperatures every `pollSeconds`.
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

// The device temperatures as level events, read again once answered (never within 200 ms); a
// camera time beyond 0 .. 2^64 ms since 1970 raises nothing and is logged.
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

// A raw value above 16383 breaks the frame at its first place however the data came; data
// shorter than its header announces is none.
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
