// `qrmhost detect` with the real module against the camera simulator: provisioning, one alarm
// with its begin and end, the settings line, and a camera left as it was.
#include <algorithm>
#include <chrono>

#include "CamsimProcess.h"
#include "ChildProcess.h"
#include "TestSupport.h"

namespace qrmhost_test {
namespace {

using namespace std::chrono_literals;

const char kPoll[] = "/api/json/status/messagesystem/eventvariables/log";

size_t countOf(const CamsimProcess& camera, const std::string& prefix) { return camera.requestTargets(prefix).size(); }

TEST(QrmhostDetectTest, PrintsTheAlarmsOfAProvisionedDetectorAndCleansUp) {
  CamsimProcess camera({"--model", "VX-D20"});
  ChildProcess qrmhost(QRMHOST_PATH,
                       against(addressOf(camera), "VX-D20",
                               {"detect", "--detector", "motion", "--seconds", "9", "--set", "activityLevel=3",
                                "--window", "0.25,0.25,0.5,0.5", "--polyline", "0,0;0.5,0.5"}),
                       {}, true);
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  ASSERT_TRUE(qrmhost.waitForOutLine(R"({"kind":"started"})", deadline)) << qrmhost.outSoFar();
  ASSERT_TRUE(camera.waitForRequest("/control/control?set&section=actions&ah1_name=orbexMD", 1, 10s));
  ASSERT_TRUE(camera.waitForRequest(kPoll, countOf(camera, kPoll) + 1, 10s)) << "a poll after provisioning";
  ASSERT_EQ(camera.request("/sim/trigger?event=orbexMD").status, 200);
  const auto result = qrmhost.finish(deadline);
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const auto lines = result.outLines();
  expectOnce(result, {R"({"kind":"settings","code":0})", R"({"kind":"event","name":"onMotion","phase":"begin","time":)",
                      R"({"kind":"event","name":"onMotion","phase":"end","time":)"});
  const auto stopped = std::find(lines.begin(), lines.end(), R"({"kind":"stopped"})");
  ASSERT_NE(stopped, lines.end()) << result.out;
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], R"({"kind":"device","state":"disconnected","code":0})") << "the detector goes first";
  EXPECT_EQ(lines.back(), R"({"kind":"summary","events":2,"failures":0})");
  EXPECT_EQ(camera.get("/sim/profiles"),
            R"({"event_profiles":{"event_ima":[]},"message_profiles":[],"action_groups":{}})");
  EXPECT_EQ(countOf(camera, "/control/control?section=event_ima&set_profile=ima:orbexMD&activity_level=3"), 1u);
  EXPECT_EQ(countOf(camera, "/control/control?set&section=event_ima&motionwinid=1&motionreftime=0&motionnightoff=0"
                            "&ima_as_show_directions=1&motion_area=,320,240,640,480,col=green,id=1%0A,"
                            "poly=0x960/640x480,col=green,id=2"),
            1u);
}

TEST(QrmhostDetectTest, BadAreasAreUsageErrors) {
  for (const char* bad : {"--window=0.5,0.5,0.6,0.1", "--window=a,b,c,d", "--polyline=0,0"}) {
    const auto result = runQrmhost(against("http://127.0.0.1:1/", "VX-D20", {"detect", "--detector", "motion", bad}));
    EXPECT_EQ(result.exitStatus, 2) << bad << result.err;
  }
}

}  // namespace
}  // namespace qrmhost_test
