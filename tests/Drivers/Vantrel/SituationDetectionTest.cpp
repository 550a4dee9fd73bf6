// The infrared and shock detectors: their sensor in the created profile and the one setting
// each sends; a camera error does not fail the setting, a wrong type does.
#include "DetectorFixture.h"

namespace {

class SituationDetectionTest : public DetectorTest {
 protected:
  std::vector<std::string> settingRequests() const {
    std::vector<std::string> found;
    for (const auto& target : camera->requestTargets())
      if (target.find("ir_lvl=") != std::string::npos || target.find("tap_debounce=") != std::string::npos)
        found.push_back(target);
    return found;
  }
};

TEST_F(SituationDetectionTest, EachKindSendsItsOwnSetting) {
  struct Case {
    const char* detector;
    const char* sensor;
    std::vector<std::pair<std::string, boost::any>> set;
    int code;
    const char* sent;  // "" : nothing
  };
  const Case cases[] = {
      {"ir", "ir", {{"threshold", 7}}, 0, "/control/control?section=event_env&set_profile=env:AN&ir_lvl=7"},
      {"ir", "ir", {{"tapDebounce", 300}}, 0, ""},
      {"ir", "ir", {{"threshold", std::string("high")}}, 4, ""},
      {"shock", "gy", {{"tapDebounce", 300}}, 0, "/control/control?set&section=event_env&tap_debounce=300"},
      {"shock", "gy", {{"tapDebounce", 1.5}}, 4, ""},
  };
  startCamera("VX-D20");
  for (const Case& c : cases) {
    RecordingAnalyticsHandler& reporter = newHandler();
    auto* detector = create(c.detector, &reporter);
    ASSERT_NE(detector, nullptr);
    startAndWait(detector, logger.count(kChecked) + 1);
    EXPECT_GE(
        indexOf(std::string("/control/control?set&section=event_env&env=AN:_profilename=AN:env_dead=0:env_sens=") +
                c.sensor),
        0)
        << c.detector;
    const size_t before = settingRequests().size();
    EXPECT_EQ(apply(detector, c.set), c.code) << c.detector;
    const auto after = settingRequests();
    if (*c.sent) {
      ASSERT_EQ(after.size(), before + 1) << c.detector;
      EXPECT_EQ(after.back(), c.sent);
    } else {
      EXPECT_EQ(after.size(), before) << c.detector;
    }
    stop(detector, reporter);
  }
  EXPECT_EQ(levelOf(" Error: "), 3);
}

TEST_F(SituationDetectionTest, ACameraErrorStillCompletesWithSuccess) {
  startCamera("VX-D20");
  auto* shock = create("shock");
  startAndWait(shock);
  camera->fault("path=/control/control%3Fset%26section%3Devent_env%26tap_debounce&count=1&status=404");
  EXPECT_EQ(apply(shock, {{"tapDebounce", 300}}), 0);
  stop(shock, handler);
}

}  // namespace
