// The thermal detector: its parameter text and lens-aware area in the created profile, and a lens
// query that does not hold Start. Its settings: SituationDetectionTest.
#include <future>

#include "DetectorFixture.h"

namespace {

const char kDefaults[] =
    ":ara_measurement_mode=absolute:ara_mode=pixel:ara_millipercent=0.100:ara_type=level:ara_reference_area="
    ":ara_reference_tolerance=0:ara_unit=celcius:ara_lvl=37.5:ara_lvl_cmp=higher:ara_range_min=30.0"
    ":ara_range_max=50.0:ara_range_cmp=inside:ara_act=every:ara_show_area=off:ara_show_meter=0"
    ":ara_show_temperature=off:ara_show_coordinates=off:ara_show_crosshair=off:ara_show_name=off";

class ThermalDetectionTest : public DetectorTest {
 protected:
  std::string lastSettings() const {
    std::string last;
    for (const auto& target : camera->requestTargets())
      if (target.rfind("/control/control?section=event_env&set_profile=env:AN&", 0) == 0) last = target;
    return last;
  }
};

// The created profile carries the area in the camera's 1280 x 960 with its vertical axis up, and
// every parameter's default. Both lenses shown: SituationDetectionTest.
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
  EXPECT_EQ(lastSettings(),
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

}  // namespace
