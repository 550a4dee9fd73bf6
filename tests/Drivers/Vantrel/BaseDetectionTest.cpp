// Provisioning of camera-side detectors, seen through a motion detector against the simulator:
// the exact requests, reuse of what the camera has, the two-phase events, the cleanup of only
// what was created, a Stop during the check, and a camera that forgot its profiles.
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

TEST_F(BaseDetectionTest, ProvisionsRaisesEveryChangeAndRemovesWhatItCreated) {
  startCamera("VX-D20", 200ms, 3000ms);
  auto* motion = create("motion");
  ASSERT_NE(motion, nullptr);
  startAndWait(motion);
  ASSERT_TRUE(handler.waitStarted());
  const std::vector<std::string> expected = {"/control/control?set&section=eventcontrol&edactiv=enable",
                                             "/control/control?read&section=event_ima&ima",
                                             "/admin/control?read&section=msgsysprofiles&profile",
                                             kActionsRead,
                                             kCreateEvent,
                                             kCreateMessage,
                                             kCreateGroup};
  for (const auto& target : expected) EXPECT_GE(indexOf(target), 0) << target;
  EXPECT_LT(indexOf(kActionsRead), indexOf(kCreateEvent)) << "creations follow the three reads in one batch";
  EXPECT_TRUE(logger.contains(" Checking profiles for 'orbexMD' is finished with result 0"));

  // The camera had no record of the message at the first poll: its first record is an alarm.
  waitPolls(2);
  ASSERT_EQ(trigger("orbexMD"), 200);
  ASSERT_TRUE(handler.waitEvents(1)) << logger.dump();
  ASSERT_EQ(trigger("orbexMD"), 200);
  ASSERT_TRUE(handler.waitEvents(3)) << "a second begin, then one end";
  const auto events = handler.happenings();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].name, "onMotion");
  EXPECT_EQ(events[0].phase, Talvo::GDRV::EVENT_BEGIN);
  EXPECT_EQ(events[1].phase, Talvo::GDRV::EVENT_BEGIN);
  EXPECT_GT(events[1].time, events[0].time);
  EXPECT_EQ(events[2].phase, Talvo::GDRV::EVENT_END);
  EXPECT_GE(events[2].time, events[1].time + 3000) << "the end comes the end delay after the last change";

  stop(motion, handler);
  for (const auto& target : kCleanup) EXPECT_GE(indexOf(target), 0) << target;
  const auto left = profiles();
  EXPECT_TRUE(left["event_profiles"]["event_ima"].empty()) << left;
  EXPECT_TRUE(left["message_profiles"].empty()) << left;
  EXPECT_TRUE(left["action_groups"].empty()) << left;
  EXPECT_TRUE(logger.contains(" Stop polling detector events"));
}

TEST_F(BaseDetectionTest, TheEndComesFiveSecondsAfterTheLastChangeByDefault) {
  startCamera("VX-D20", Vantrel::DetectorMngr::kPollInterval, Vantrel::DetectorMngr::kEventEndDelay);
  auto* motion = create("motion");
  startAndWait(motion);
  waitPolls(1);
  ASSERT_EQ(trigger("orbexMD"), 200);
  ASSERT_TRUE(handler.waitEvents(2, 15s)) << logger.dump();
  const auto events = handler.happenings();
  EXPECT_EQ(events[1].phase, Talvo::GDRV::EVENT_END);
  EXPECT_GE(events[1].time - events[0].time, 5000u);
}

TEST_F(BaseDetectionTest, AnExistingGroupInAh4IsReusedAndNeverDeleted) {
  startCamera("VX-D20");
  ASSERT_EQ(camera->request("/sim/action?slot=4&name=orbexMD").status, 200);
  auto* motion = create("motion");
  startAndWait(motion);
  EXPECT_TRUE(logger.contains(" 'orbexMD' action profile on camera exists"));
  EXPECT_GE(indexOf("/control/control?read&section=actions&ah4_subactions"), 0);
  EXPECT_GE(indexOf("/control/control?set&section=actions&ah4_subactions=0000:action=MS,orbexMD:timeout=0"), 0)
      << "the group did not send the message yet";
  EXPECT_EQ(count("/control/control?set&section=actions&ah1_"), 0u) << "the free ah1 is left alone";
  stop(motion, handler);
  EXPECT_EQ(count("/control/control?section=actions&"), 0u) << "a group found on the camera stays";
  EXPECT_EQ(profiles()["action_groups"]["ah4"]["name"], "orbexMD");
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

TEST_F(BaseDetectionTest, StopDuringTheCheckDefersTheCleanupUntilTheBatchEnds) {
  startCamera("VX-D20");
  camera->fault("path=/control/control%3Fread%26section%3Dactions&count=1&delay_ms=1500");
  auto* motion = create("motion");
  motion->Start();
  ASSERT_TRUE(camera->waitForRequest("/control/control?read&section=actions", 1, 10s));
  motion->Stop();
  ASSERT_TRUE(handler.waitStopped()) << logger.dump();
  EXPECT_TRUE(
      logger.contains(" Clearing profiles for 'orbexMD' is postponed until working creating is fully finished"));
  EXPECT_TRUE(logger.contains(" Checking action profile is canceled"));
  EXPECT_EQ(indexOf(kCreateGroup), -1) << "no group after Stop";
  ASSERT_GE(indexOf(kCreateMessage), 0);
  EXPECT_GT(indexOf(kCleanup[2]), indexOf(kCreateMessage)) << "removed only after it was created";
  EXPECT_GT(indexOf(kCleanup[3]), indexOf(kCreateEvent));
  EXPECT_EQ(indexOf(kCleanup[0]), -1);
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
