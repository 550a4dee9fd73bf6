// The motion detector: its area text in the camera's 1280 x 960 syntax (the cases the end-to-end
// tests do not send), and the two requests that carry areas and settings, end to end against the
// simulator.
#include <nlohmann/json.hpp>

#include "DetectorFixture.h"
#include "MotionDetection.h"

namespace {

using Talvo::Utility::Polyline;
using Talvo::Utility::Rectangle;

Rectangle rect(double x, double y, double w, double h, Talvo::GDRV::Properties properties = {}) {
  return Rectangle{x, y, w, h, std::move(properties)};
}

Talvo::GDRV::Properties elementProperties() {
  return {std::make_shared<Talvo::GDRV::PropertyBool>("controlArea", true),
          std::make_shared<Talvo::GDRV::PropertyInt>("imageSensor", 1),
          std::make_shared<Talvo::GDRV::PropertyInt>("minimalArea", 10),
          std::make_shared<Talvo::GDRV::PropertyInt>("maximumArea", 5000),
          std::make_shared<Talvo::GDRV::PropertyInt>("sensitivity", 60)};
}

TEST(MotionAreaText, Table) {
  struct Case {
    const char* what;
    std::vector<Rectangle> rectangles;
    std::vector<Polyline> polylines;
    bool reversed;
    const char* text;
  };
  const Case cases[] = {
      {"top left, reversed", {rect(0, 0, 0.5, 0.5)}, {}, true, ",640,0,640,480,col=green,id=1"},
      {"element properties",
       {rect(0.25, 0.25, 0.5, 0.5, elementProperties())},
       {},
       false,
       "!1,320,240,640,480,a=10,am=5000,s=60,col=green,id=1"},
      {"rectangles first, an empty polyline keeps the numbers",
       {rect(0, 0, 1, 1)},
       {Polyline{{{0, 0}, {0.5, 0.5}}, {}}, Polyline{}, Polyline{{{1, 1}}, {}}},
       false,
       ",0,0,1280,960,col=green,id=1%0A,poly=0x960/640x480,col=green,id=2%0A,poly=1280x0,col=green,id=4"},
  };
  CapturingLogger logger;
  const Talvo::LoggerOwner owner(&logger, "t");
  for (const Case& c : cases)
    EXPECT_EQ(Vantrel::motionAreaText(c.rectangles, c.polylines, c.reversed, false, owner), c.text) << c.what;
  EXPECT_EQ(logger.count(" polyline 1 is empty"), 1u);
}

class MotionDetectionTest : public DetectorTest {
 protected:
  // The settings requests: to the profile and to the motion section.
  std::vector<std::string> eventImaRequests() const {
    std::vector<std::string> found;
    for (const auto& target : camera->requestTargets())
      if (target.find("section=event_ima&") != std::string::npos && target.find("read&") == std::string::npos &&
          target.find("&ima=") == std::string::npos)
        found.push_back(target);
    return found;
  }
  inline static const std::string kMotion =
      "/control/control?set&section=event_ima&motionwinid=1&motionreftime=0&motionnightoff=0&ima_as_show_directions=1";
  inline static const std::string kProfile = "/control/control?section=event_ima&set_profile=ima:orbexMD&ima_sens=";
};

TEST_F(MotionDetectionTest, AreasAndSettingsGoOutAsProfileAndMotionRequests) {
  startCamera("VX-D20");
  auto* motion = create("motion");
  EXPECT_EQ(apply(motion, {}), 0) << "before Start";
  EXPECT_TRUE(logger.contains(" Applying Canceled or called befor start"));
  startAndWait(motion);
  EXPECT_EQ(apply(motion, {}), 0);

  auto windows = TestVisualList::rectangles({{0.25, 0.25, 0.5, 0.5}, {0, 0, 0.5, 0.5}});
  EXPECT_EQ(Talvo::contract_cast<Talvo::Analytics::IVisualAsyncAdjuster>(motion)->SetRectangleArray("window", &windows),
            0);
  EXPECT_EQ(apply(motion, {{"eventSensorType", std::string("as")}, {"activityLevel", 3}}), 0);
  EXPECT_EQ(apply(motion, {{"eventSensorType", std::string("vm")},
                           {"mappingFrameworkRegion", std::string("grid")},
                           {"dualLensAnalysis", true},
                           {"detectFastMotion", false},
                           {"ZlActivitySensorV2", true},
                           {"minimumObjectSize", std::string("10,20")}}),
            0);
  EXPECT_EQ(apply(motion, {{"perspectiveCompensation", true},
                           {"nearObjectSize", std::string("1,2")},
                           {"farObjectSize", std::string("30,40")}}),
            0);
  const std::string area = "&motion_area=,320,240,640,480,col=green,id=1%0A,0,480,640,480,col=green,id=2";
  EXPECT_EQ(
      eventImaRequests(),
      (std::vector<std::string>{
          kMotion + "&motion_area=", kProfile + "as&activity_area=,320,240,640,480%0A,0,480,640,480&activity_level=3",
          kMotion + "&motion_area=", kProfile + "vm",
          kMotion +
              "&motionwintype=grid&motionduallens=1&ima_as_fast_motion_stabilizer=0&ima_as_use_v2=1"
              "&ima_as_min_obj_size=10%2C20" +
              area,
          kMotion + "&ima_as_use_perspective=1&ima_as_near_obj_size=1%2C2&ima_as_far_obj_size=30%2C40" + area}));

  EXPECT_EQ(apply(motion, {{"activityLevel", std::string("high")}}), 7);
  EXPECT_EQ(levelOf(" Bad param type, error:"), 3);
  EXPECT_EQ(eventImaRequests().size(), 6u) << "nothing is sent for a wrong type";
  stop(motion, handler);
}

// A host applies its settings right after Start: they go out once the profile was created, and
// the camera's profile holds them when success is reported.
TEST_F(MotionDetectionTest, SettingsAppliedRightAfterStartEndUpInTheProfile) {
  startCamera("VX-D20");
  auto* motion = create("motion");
  motion->Start();
  EXPECT_EQ(apply(motion, {{"eventSensorType", std::string("as")}, {"activityLevel", 3}}), 0);
  EXPECT_LT(indexOf("/control/control?set&section=event_ima&ima=orbexMD:_profilename=orbexMD:ima_dead=0:ima_sens=vm"
                    ":vm_list="),
            indexOf(kProfile + "as&activity_level=3"));
  const auto profiles = nlohmann::json::parse(camera->get("/sim/profiles"))["event_profiles"]["event_ima"];
  ASSERT_EQ(profiles.size(), 1u);
  const std::string profile = profiles[0];
  EXPECT_NE(profile.find(":ima_sens=as"), std::string::npos) << profile;
  EXPECT_NE(profile.find(":activity_level=3"), std::string::npos) << profile;
  stop(motion, handler);
}

TEST_F(MotionDetectionTest, VisualElementsOnlyByTheirNamesAndFromTheRepository) {
  startCamera("VX-M70");
  auto* motion = create("motion_reversed");
  auto* visual = Talvo::contract_cast<Talvo::Analytics::IVisualAsyncAdjuster>(motion);
  auto lines = TestVisualList::polylines({{{0, 0}, {0.5, 0.5}}});
  EXPECT_EQ(visual->SetRectangleArray("polyline", &lines), 5);
  EXPECT_EQ(visual->SetPolylineArray("window", &lines), 5);
  EXPECT_EQ(visual->SetPolylineArray("polyline", &lines), 0);
  EXPECT_EQ(Talvo::contract_cast<Talvo::Analytics::IVisualAsyncAdjuster>(create("motion_detection"))
                ->SetPolylineArray("polyline", &lines),
            1);
  EXPECT_EQ(levelOf(" visual element 'polyline' not found in repository."), 3);

  startAndWait(motion);
  EXPECT_EQ(apply(motion, {}), 0);
  EXPECT_NE(eventImaRequests().back().find("&motion_area=,poly=1280x0/640x480,a=10,col=green,id=1"), std::string::npos)
      << "reversed area, the element's properties";
  stop(motion, handler);
}

}  // namespace
