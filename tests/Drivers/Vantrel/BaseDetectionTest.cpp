// Provisioning of camera-side detectors, seen through a motion detector against the simulator:
// requests, reuse of what the camera has, two-phase events, cleanup of only what was created.
#include <algorithm>

#include <boost/algorithm/string/replace.hpp>
#include <nlohmann/json.hpp>

#include "DetectorFixture.h"

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

class BaseDetectionTest : public DetectorTest {
 protected:
  nlohmann::json profiles() const { return nlohmann::json::parse(camera->get("/sim/profiles")); }
};

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

// Start and Stop while the previous run still talks to the camera (one of its requests answered
// late): one registration under one name, and the camera's profiles as the last call wants them
// (a cleanup during the check waits until the batch ends).
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
    if (running) ASSERT_TRUE(waitUntilLogged(kChecked, checks + 2)) << logger.dump();
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
  ASSERT_TRUE(waitUntilLogged(" Detector events answer again", 1)) << logger.dump();
  ASSERT_TRUE(waitUntilLogged(kChecked, 2)) << logger.dump();
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

}  // namespace
