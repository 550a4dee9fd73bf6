// The settings the detectors of a VX-T40 send: each kind its own requests with their number
// formats (the thermal area clamped to the left half the thermal lens takes when both lenses are
// shown), a wrong type none and fails; a camera error does not fail the shock's setting, an empty
// answer fails the thermal one.
#include "DetectorFixture.h"

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
      {"ir", "ir", {{"threshold", std::string("high")}}, "", 4, {}},
      {"shock", "gy", {{"tapDebounce", 300}}, "", 0, {"/control/control?set&section=event_env&tap_debounce=300"}},
      {"shock", "gy", {{"tapDebounce", 1.5}}, "", 4, {}},
      {"shock", "gy", {{"tapDebounce", 200}}, refused, 0, {"/control/control?set&section=event_env&tap_debounce=200"}},
      {"thermal", "ara", {{"millipercent", 0.0004}}, "", 0, {area + "&ara_millipercent=0.001"}},
      {"thermal", "ara", {{"millipercent", 0.25}}, "", 0, {area + "&ara_millipercent=0.250"}},
      {"thermal", "ara", {{"level", 40}}, "", 0, {area + "&ara_lvl=40.0"}},
      {"thermal",
       "ara",
       {{"detectorName", std::string("Hall")}, {"showMeter", true}, {"unit", std::string("fahrenheit")}},
       "",
       0,
       {area + "&_profilename=Hall&ara_unit=fahrenheit&ara_show_meter=1"}},
      {"thermal", "ara", {{"level", std::string("hot")}}, "", 7, {}},
      {"thermal", "ara", {{"level", 41}}, empty, 1, {area + "&ara_lvl=41.0"}},
      {"temperatures", "", {{"ambientTemperature", 20}}, "", 0, {temperatures + "&uhu_tcomp_atm_temp=20+20"}},
      {"temperatures", "", {{"objectEmissivity", 95}, {"atmosphericTransmission", 80}}, "", 0, {emissivity}},
      {"temperatures", "", {{"deviceTemperatureUpdateTimeout", 30}}, "", 0, {}},
      {"temperatures", "", {{"ambientTemperature", std::string("warm")}}, "", 7, {}},
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
      if (c.sensor == std::string("ara")) ASSERT_EQ(visual->SetPolylineArray("polyline", &lines), 0);
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

}  // namespace
