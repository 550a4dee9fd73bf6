// Camera-side detectors against the simulator. Provisioning, seen through a motion detector:
// requests, reuse of what the camera has, two-phase events, cleanup of only what was created. The
// device's detector manager: unique names, the thread contract, the camera's event-variable
// answers. The motion detector's area text (1280 x 960) and its area and settings requests.
#include <algorithm>

#include <boost/algorithm/string/replace.hpp>

#include "DetectorFixture.h"
#include "MotionDetection.h"

namespace {

const char kActionsRead[] =
    "/control/control?read&section=actions&ah1_name&ah2_name&ah3_name&ah4_name&ah5_name&ah6_name&ah7_name&ah8_name"
    "&ah9_name&ah10_name&ah11_name&ah12_name&ah13_name&ah14_name&ah15_name&ah16_name&ah17_name&ah18_name&ah19_name"
    "&ah20_name";
const char kCreateEvent[] =
    "/control/control?set&section=event_ima&ima=orbexMD:_profilename=orbexMD:ima_dead=0:ima_sens=vm:vm_list=";
const char kCreateMessage[] =
    "/admin/control?set&section=msgsysprofiles&profile=orbexMD:_profilename=orbexMD:message=orbexMD:range=local"
    ":with_data=0:data=";
const char kCreateGroup[] =
    "/control/control?set&section=actions&ah1_name=orbexMD&ah1_arming=enable&ah1_timetable=&ah1_events=IMA,orbexMD"
    "&ah1_deadtime=1&ah1_chaining=par&ah1_subactions=0000:action=MS,orbexMD:timeout=0";
const std::vector<std::string> kCleanup = {"/control/control?section=actions&delete_profile=ah1_subactions:0000",
                                           "/control/control?section=actions&ah1_name=&ah1_arming=disable",
                                           "/admin/control?section=msgsysprofiles&delete_profile=profile:orbexMD",
                                           "/control/control?section=event_ima&delete_profile=ima:orbexMD"};

using BaseDetectionTest = DetectorTest;

// With the product's timings: the log is read once a second, a second change raises a second
// begin, the end comes 5 s after the last change, and an event still open when the detector stops
// is ended before Stopped (the host's alarm closes). Stop removes only what was created.
TEST_F(BaseDetectionTest, ProvisionsRaisesEveryChangeAndRemovesWhatItCreated) {
  startCamera("VX-D20", 0ms);
  auto* motion = create("motion");
  ASSERT_NE(motion, nullptr);
  startAndWait(motion);
  ASSERT_TRUE(handler.waitStarted());
  for (const auto& target :
       {"/control/control?set&section=eventcontrol&edactiv=enable", "/control/control?read&section=event_ima&ima",
        "/admin/control?read&section=msgsysprofiles&profile", kActionsRead, kCreateMessage, kCreateGroup})
    EXPECT_GE(indexOf(target), 0) << target;
  EXPECT_LT(indexOf(kActionsRead), indexOf(kCreateEvent)) << "creations follow the three reads in one batch";
  EXPECT_TRUE(logger.contains(" Checking profiles for 'orbexMD' is finished with result 0"));

  // The camera had no record of the message at the first poll: its first record is an alarm.
  waitPolls(1);
  ASSERT_EQ(trigger("orbexMD"), 200);
  ASSERT_TRUE(handler.waitEvents(1)) << logger.dump();
  ASSERT_EQ(trigger("orbexMD"), 200);
  ASSERT_TRUE(handler.waitEvents(3, 15s)) << "a second begin, then one end";
  ASSERT_EQ(trigger("orbexMD"), 200);
  ASSERT_TRUE(handler.waitEvents(4)) << logger.dump();
  stop(motion, handler);
  const auto events = handler.happenings();  // all that came before Stopped
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].name, "onMotion");
  std::vector<int> phases;
  for (const auto& event : events) phases.push_back(event.phase);
  const int begin = Talvo::GDRV::EVENT_BEGIN, end = Talvo::GDRV::EVENT_END;
  EXPECT_EQ(phases, std::vector<int>({begin, begin, end, begin, end}));
  EXPECT_GT(events[1].time, events[0].time);
  EXPECT_GE(events[2].time - events[1].time, 5000u) << "the end comes 5 s after the last change";
  EXPECT_GE(events[4].time, events[3].time);
  const auto polls = requestTimes(kPoll);
  ASSERT_GE(polls.size(), 3u);
  for (size_t i = 1; i < polls.size(); ++i) EXPECT_GE(polls[i] - polls[i - 1], 999) << "a second between two reads";

  for (const auto& target : kCleanup) EXPECT_GE(indexOf(target), 0) << target;
  EXPECT_EQ(camera->get("/sim/profiles"),
            R"({"event_profiles":{"event_ima":[]},"message_profiles":[],"action_groups":{}})");
  EXPECT_TRUE(logger.contains(" Stop polling detector events"));
}

// The user's own profiles, found by the detector's shown name: the event profile's key names the
// message and the group, nothing of them is created, and Stop leaves them all.
TEST_F(BaseDetectionTest, ExistingProfilesAreReusedAndNeverDeleted) {
  startCamera("VX-D20");
  for (const char* own : {"/control/control?set&section=event_ima&ima=Hall:_profilename=orbexMD:ima_dead=0:ima_sens=vm"
                          ":vm_list=",
                          "/admin/control?set&section=msgsysprofiles&profile=Hall:_profilename=Hall:message=Hall"
                          ":range=local:with_data=0:data=",
                          "/control/control?set&section=actions&ah4_name=Hall&ah4_events=IMA,Hall"})
    ASSERT_EQ(camera->request(own, kAuth).status, 200) << own;
  const auto before = profiles();
  auto* motion = create("motion");
  startAndWait(motion);
  EXPECT_TRUE(logger.contains(" 'orbexMD' event profile on camera already exists with profilename = Hall"));
  EXPECT_TRUE(logger.contains(" 'Hall' message profile on camera exists"));
  EXPECT_TRUE(logger.contains(" 'Hall' action profile on camera exists"));
  EXPECT_GE(indexOf("/control/control?set&section=actions&ah4_subactions=0000:action=MS,Hall:timeout=0"), 0)
      << "the group did not send the message yet";
  EXPECT_EQ(count("/control/control?set&section=event_ima&ima="), 1u) << "only the test's own";
  EXPECT_EQ(count("/admin/control?set&section=msgsysprofiles"), 1u);
  EXPECT_EQ(count("/control/control?set&section=actions&ah1_"), 0u) << "the free ah1 is left alone";
  waitPolls(1);
  ASSERT_EQ(trigger("Hall"), 200);
  ASSERT_TRUE(handler.waitEvents(1)) << "the message of the profile found";
  stop(motion, handler);
  EXPECT_EQ(count("/control/control?section=actions&"), 0u) << "a group found on the camera stays";
  EXPECT_EQ(count("/control/control?section=event_ima&delete_profile"), 0u);
  EXPECT_EQ(count("/admin/control?section=msgsysprofiles&delete_profile"), 0u);
  auto after = profiles();
  after["action_groups"]["ah4"].erase("subactions");
  EXPECT_EQ(after, before);
}

// Start and Stop while the previous run still talks to the camera: one registration under one
// name, the profiles as the last call wants them (a cleanup waits for the check's batch).
TEST_F(BaseDetectionTest, RunsFollowEachOtherInCallOrder) {
  struct Case {
    const char* what;
    bool settledFirst;  // the first run's check is over before the calls
    const char* slow;   // the request answered late (and awaited before the calls)
    const char* calls;  // after the first Start: '-' Stop, '+' Start
  };
  const char* const kCheckRead = "/control/control?read&section=actions";
  const char* const kCleanupDelete = "/control/control?section=event_ima&delete_profile";
  const Case cases[] = {
      {"Stop during the check", false, kCheckRead, "-"},
      {"Stop and Start during the check", false, kCheckRead, "-+"},
      {"Stop and Start during the cleanup", true, kCleanupDelete, "-+"},
      {"Stop, Start and Stop during the check", false, kCheckRead, "-+-"},
  };
  startCamera("VX-D20");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingAnalyticsHandler& reporter = newHandler();
    auto* motion = create("motion", &reporter);
    const size_t checks = logger.count(kChecked);
    if (c.settledFirst) startAndWait(motion, checks + 1);
    camera->fault(
        "path=" + boost::replace_all_copy(boost::replace_all_copy(std::string(c.slow), "?", "%3F"), "&", "%26") +
        "&count=1&delay_ms=1500");
    const size_t seen = count(c.slow);
    const std::string calls = c.calls;
    c.settledFirst ? motion->Stop() : motion->Start();
    ASSERT_TRUE(camera->waitForRequest(c.slow, seen + 1, 10s));
    for (size_t i = c.settledFirst; i < calls.size(); ++i) calls[i] == '+' ? motion->Start() : motion->Stop();
    const bool running = calls.back() == '+';
    const int stops = static_cast<int>(std::count(calls.begin(), calls.end(), '-'));
    ASSERT_TRUE(reporter.waitStopped(stops)) << logger.dump();
    ASSERT_TRUE(!running || logger.waitForCount(kChecked, checks + 2, 10s)) << logger.dump();
    const auto left = profiles();
    EXPECT_EQ(std::vector<size_t>({left["event_profiles"]["event_ima"].size(), left["message_profiles"].size(),
                                   left["action_groups"].size()}),
              std::vector<size_t>(3, running ? 1 : 0))
        << left;
    EXPECT_EQ(logger.count(" Add detector: orbexMD2"), 0u) << "never a second name";
    EXPECT_EQ(logger.count(" Add detector: orbexMD") - logger.count(" Remove detector: orbexMD"), running ? 1u : 0u);
    if (!running) continue;
    waitPolls(1);
    ASSERT_EQ(trigger("orbexMD"), 200);
    EXPECT_TRUE(reporter.waitEvents(1)) << "the running detector is polled";
    stop(motion, reporter, stops + 1);
  }
  EXPECT_TRUE(
      logger.contains(" Clearing profiles for 'orbexMD' is postponed until working creating is fully finished"));
  EXPECT_TRUE(logger.contains(" Checking action profile is canceled"));
}

TEST_F(BaseDetectionTest, WithEveryActionSlotTakenTheDetectorRunsWithoutNotifications) {
  startCamera("VX-D20");
  ASSERT_EQ(camera->request("/sim/action?slot=all&name=Other").status, 200);
  auto* motion = create("motion");
  startAndWait(motion);
  EXPECT_TRUE(handler.waitStarted());
  EXPECT_EQ(levelOf(" Can not create action groups, no empty slots. No notificataions from detector will be received."),
            3);
  stop(motion, handler);
  EXPECT_EQ(count("/control/control?section=actions&"), 0u);
}

TEST_F(BaseDetectionTest, ACameraThatForgotItsProfilesIsProvisionedAgainOnceItAnswers) {
  startCamera("VX-D20");
  auto* motion = create("motion");
  startAndWait(motion);
  waitPolls(1);
  ASSERT_EQ(camera->request("/sim/reset-profiles").status, 200);
  camera->fault(std::string("path=") + "/api/json/status/messagesystem/eventvariables/log&count=2&status=503");
  ASSERT_TRUE(logger.waitFor(" Detector events answer again", 10s)) << logger.dump();
  ASSERT_TRUE(logger.waitForCount(kChecked, 2, 10s)) << logger.dump();
  EXPECT_EQ(logger.count(" Detector events answer again"), 1u) << "once per recovery";
  EXPECT_EQ(levelOf(" Detector events answer again"), 1);
  EXPECT_EQ(count(kCreateEvent), 2u);
  EXPECT_EQ(count(kCreateGroup), 2u);
  EXPECT_EQ(profiles()["action_groups"]["ah1"]["name"], "orbexMD");

  waitPolls(1);
  ASSERT_EQ(trigger("orbexMD"), 200);
  ASSERT_TRUE(handler.waitEvents(1)) << "alarms go on after the reset";
  stop(motion, handler);
  EXPECT_TRUE(profiles()["action_groups"].empty());
}

class DetectorMngrTest : public DetectorTest {
 protected:
  // Serves `body` as the camera's event-variable log until reset.
  void serveLog(const std::string& body) {
    std::string encoded;
    for (unsigned char c : body) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      encoded += hex;
    }
    ASSERT_EQ(camera->get("/sim/json?path=" + std::string(kPoll) + "&body=" + encoded), "OK\r\n");
  }
};

TEST_F(DetectorMngrTest, DetectorsOfOneBaseNameAreNumberedAndAFreedNumberIsReused) {
  startCamera("VX-T40");
  RecordingAnalyticsHandler& second = newHandler();
  startAndWait(create("thermal"), 1);
  auto* shock = create("shock", &second);
  startAndWait(shock, 2);
  startAndWait(create("ir", &newHandler()), 3);
  for (const char* name : {" Add detector: AN2", " Add detector: AN3"}) EXPECT_EQ(logger.count(name), 1u) << name;
  EXPECT_EQ(logger.count(" Add detector: AN"), 3u);
  EXPECT_EQ(logger.count(" Start polling detector events"), 1u);
  EXPECT_GE(indexOf("/control/control?set&section=event_env&env=AN3:_profilename=AN3:env_dead=0:env_sens=ir"), 0);
  EXPECT_GE(indexOf("/control/control?set&section=event_env&env=AN2:_profilename=AN2:env_dead=0:env_sens=gy"), 0);

  stop(shock, second);
  EXPECT_TRUE(logger.contains(" Remove detector: AN2"));
  startAndWait(create("shock", &newHandler()), 4);
  EXPECT_EQ(logger.count(" Add detector: AN2"), 2u) << "the freed AN2 is taken again";
  EXPECT_TRUE(logger.contains(" Checking profiles, after change from 'AN'"));
}

TEST_F(DetectorMngrTest, OperationsFromAnotherThreadDoNothing) {
  startCamera("VX-D20");
  EXPECT_EQ(device->detectorManager().selectDetectorName("AN"), "");
  EXPECT_EQ(device->detectorManager().findDetectorByName("AN"), nullptr);
  EXPECT_EQ(levelOf(" Attempt to call from wrong thred"), 3);
  EXPECT_EQ(logger.count(" Attempt to call from wrong thred"), 2u);
}

// Each answer is served until the next; the detector's message is "orbexMD". What it logs, and
// whether the record reached the detector (seen by the begin of a later change).
TEST_F(DetectorMngrTest, EventVariableAnswers) {
  struct Case {
    const char* what;
    std::string body;
    const char* logged;  // "" : nothing at level 3
  };
  const Case cases[] = {
      {"a record before the start is a baseline",
       R"([{"path":"messages.local.orbexMD","tv_sec":"100","type":"changed"}])", ""},
      {"other types", R"([{"path":"messages.local.orbexMD","tv_sec":"200","type":"deleted"}])", ""},
      {"other prefixes", R"({"a":{"path":"messages.remote.orbexMD","tv_sec":"300","type":"changed"}})", ""},
      {"an empty tv_sec", R"([{"path":"messages.local.orbexMD","tv_sec":"","type":"changed"}])", ""},
      {"garbage", "not json", " Can not get tree from JSON: "},
      {"a record without type", R"([{"path":"messages.local.orbexMD","tv_sec":"400"}])",
       " Can not get tree from JSON: "},
      {"a bad tv_sec after a good record",
       R"([{"path":"messages.local.orbexMD","tv_sec":"100","type":"changed"},)"
       R"({"path":"messages.local.x","tv_sec":"12ab","type":"changed"}])",
       " JSON parameters is bad: "},
      {"an answer nested too deep", std::string(40, '[') + std::string(40, ']'),
       " Can not get tree from JSON: nesting deeper than 32 levels"},
  };
  startCamera("VX-D20");
  serveLog(cases[0].body);
  auto* motion = create("motion");
  startAndWait(motion);
  for (const Case& c : cases) {
    serveLog(c.body);
    waitPolls(3);
    if (*c.logged) {
      EXPECT_EQ(levelOf(c.logged), 3) << c.what;
    }
    EXPECT_TRUE(handler.happenings().empty()) << c.what;
  }
  EXPECT_TRUE(logger.contains(", data=")) << "the bad answer is shown";
  // The good record before the bad one arrived (100 s is the last change): only a new time raises.
  serveLog(R"([{"path":"messages.local.orbexMD","tv_sec":"1700000000","type":"changed"},)"
           R"({"path":"messages.local.orbexMD","tv_sec":"1700000001","type":"changed"}])");
  ASSERT_TRUE(handler.waitEvents(1)) << logger.dump();
  EXPECT_EQ(handler.happenings()[0].time, 1700000001000u) << "the later record of a name wins";
  stop(motion, handler);
}

using Talvo::Utility::Polyline;
using Talvo::Utility::Rectangle;

Rectangle rect(double x, double y, double w, double h, Talvo::GDRV::Properties properties = {}) {
  return Rectangle{x, y, w, h, std::move(properties)};
}

Rectangle propertiedWindow() {
  return rect(0.25, 0.25, 0.5, 0.5,
              {std::make_shared<Talvo::GDRV::PropertyBool>("controlArea", true),
               std::make_shared<Talvo::GDRV::PropertyInt>("imageSensor", 1),
               std::make_shared<Talvo::GDRV::PropertyInt>("minimalArea", 10),
               std::make_shared<Talvo::GDRV::PropertyInt>("maximumArea", 5000),
               std::make_shared<Talvo::GDRV::PropertyInt>("sensitivity", 60)});
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
      {"element properties", {propertiedWindow()}, {}, false, "!1,320,240,640,480,a=10,am=5000,s=60,col=green,id=1"},
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
  EXPECT_EQ(apply(motion, {{"eventSensorType", "as"s}, {"activityLevel", 3}}), 0);
  EXPECT_EQ(apply(motion, {{"eventSensorType", "vm"s},
                           {"mappingFrameworkRegion", "grid"s},
                           {"dualLensAnalysis", true},
                           {"detectFastMotion", false},
                           {"ZlActivitySensorV2", true},
                           {"minimumObjectSize", "10,20"s}}),
            0);
  EXPECT_EQ(apply(motion, {{"perspectiveCompensation", true}, {"nearObjectSize", "1,2"s}, {"farObjectSize", "30,40"s}}),
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

  EXPECT_EQ(apply(motion, {{"activityLevel", "high"s}}), 7);
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
  EXPECT_EQ(apply(motion, {{"eventSensorType", "as"s}, {"activityLevel", 3}}), 0);
  EXPECT_LT(indexOf(kCreateEvent), indexOf(kProfile + "as&activity_level=3"));
  const auto created = profiles()["event_profiles"]["event_ima"];
  ASSERT_EQ(created.size(), 1u);
  const std::string profile = created[0];
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
