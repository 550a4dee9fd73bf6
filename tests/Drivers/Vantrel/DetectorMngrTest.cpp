// The device's detector manager, through real detectors against the simulator: unique names,
// the thread contract, and what it makes of the camera's event-variable answers.
#include "DetectorFixture.h"

namespace {

class DetectorMngrTest : public DetectorTest {
 protected:
  size_t linesEndingWith(const std::string& end) const {
    size_t n = 0;
    for (const auto& text : logger.messages())
      n += text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    return n;
  }
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
  for (const char* name : {" Add detector: AN", " Add detector: AN2", " Add detector: AN3"})
    EXPECT_EQ(linesEndingWith(name), 1u) << name;
  EXPECT_EQ(logger.count(" Start polling detector events"), 1u);
  EXPECT_GE(indexOf("/control/control?set&section=event_env&env=AN3:_profilename=AN3:env_dead=0:env_sens=ir"), 0);
  EXPECT_GE(indexOf("/control/control?set&section=event_env&env=AN2:_profilename=AN2:env_dead=0:env_sens=gy"), 0);

  stop(shock, second);
  EXPECT_TRUE(logger.contains(" Remove detector: AN2"));
  startAndWait(create("shock", &newHandler()), 4);
  EXPECT_EQ(linesEndingWith(" Add detector: AN2"), 2u) << "the freed AN2 is taken again";
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
  // The good record before the bad one still arrived: 100 s is the detector's last change, and
  // only a new time raises.
  serveLog(R"([{"path":"messages.local.orbexMD","tv_sec":"1700000000","type":"changed"},)"
           R"({"path":"messages.local.orbexMD","tv_sec":"1700000001","type":"changed"}])");
  ASSERT_TRUE(handler.waitEvents(1)) << logger.dump();
  EXPECT_EQ(handler.happenings()[0].time, 1700000001000u) << "the later record of a name wins";
  stop(motion, handler);
}

}  // namespace
