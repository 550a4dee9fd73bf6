// The camera API as a client sees it: sections, authentication, the request log, snapshots per
// model and JSON documents. (HTTPS is exercised by the HTTP client's tests against the simulator.)
#include "CamsimProcess.h"
#include "JpegCheck.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace {

const char* const kAdmin = "Authorization: Basic YWRtaW46bWVpbnNt\r\n";  // admin:meinsm

class CamsimControl : public ::testing::Test {
 protected:
  // A clean exit also means no sanitizer report inside the simulator.
  void TearDown() override { EXPECT_EQ(camsim_.stop(), 0); }

  CamsimProcess::Answer authed(const std::string& target) const { return camsim_.request(target, kAdmin); }

  CamsimProcess camsim_{{"--user", "admin", "--password", "meinsm"}};
};

TEST_F(CamsimControl, ReadsAndSetsSectionsAndRefusesWhatItDoesNotKnow) {
  EXPECT_EQ(authed("/control/control?read&section=imagecontrol&brightness&camera&nokey").body,
            "brightness=0\r\ncamera=auto\r\n");
  // An encoded '+' and a plain one both stay '+': dual-lens values are written with it.
  EXPECT_EQ(authed("/control/control?set&section=imagecontrol&brightness=30%2B50&color=1+2").body, "OK\r\n");
  EXPECT_EQ(authed("/control/control?read&section=imagecontrol&color&brightness").body,
            "color=1+2\r\nbrightness=30+50\r\n");
  EXPECT_EQ(authed("/control/control?section=general&framerate100=1250").body, "OK\r\n") << "without read: a set";
  EXPECT_EQ(camsim_.get("/sim/state?section=general&framerate100"), "framerate100=1250\r\n");
  EXPECT_EQ(authed("/control/control?set&section=newsection&a=1").status, 200);
  EXPECT_EQ(authed("/control/control?read&section=newsection").body, "a=1\r\n");
  EXPECT_EQ(authed("/control/control?read&section=event_msg").status, 200) << "an empty section is there";
  EXPECT_EQ(authed("/admin/audio?setMicro=1").body, "OK\r\n");
  const std::pair<const char*, int> refused[] = {{"/control/control?read&section=nosuchsection", 404},
                                                 {"/control/control?read", 400},
                                                 {"/control/control?set&brightness=1", 400},
                                                 {"/admin/audio?setMicro=7", 400},
                                                 {"/api/json/unknown", 404},
                                                 {"/nothing/here", 404}};
  for (const auto& [target, status] : refused) EXPECT_EQ(authed(target).status, status) << target;
  EXPECT_EQ(camsim_.request("/sim/nothing").status, 404);
}

TEST_F(CamsimControl, WithoutOrWithWrongCredentialsAnswers401WithAChallenge) {
  const CamsimProcess::Answer anonymous = camsim_.request("/control/control?read&section=imagecontrol");
  EXPECT_EQ(anonymous.status, 401);
  EXPECT_NE(anonymous.head.find("WWW-Authenticate: Basic realm=\"Vantrel\""), std::string::npos) << anonymous.head;
  const char* const wrong = "Authorization: Basic YWRtaW46d3Jvbmc=\r\n";  // admin:wrong
  EXPECT_EQ(camsim_.request("/control/control?read&section=jpeg", wrong).status, 401);
  EXPECT_EQ(camsim_.get("/sim/state?section=jpeg&quality"), "quality=80\r\n") << "control paths stay open";
}

TEST_F(CamsimControl, RequestLogKeepsArrivalOrderAndStatusButNotControlPaths) {
  camsim_.clearRequests();
  authed("/control/control?read&section=jpeg");
  camsim_.request("/control/control?read&section=color");
  authed("/no/such/path");
  camsim_.get("/sim/state?section=jpeg");
  authed("/admin/control?profile=x&value=a%20b");
  std::vector<std::string> seen;
  for (const auto& line : splitLines(camsim_.get("/sim/requests"))) {
    const auto entry = nlohmann::json::parse(line);
    seen.push_back(entry["method"].get<std::string>() + " " + entry["target"].get<std::string>() + " " +
                   entry["status"].dump());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"GET /control/control?read&section=jpeg 200",
                                            "GET /control/control?read&section=color 401", "GET /no/such/path 404",
                                            "GET /admin/control?profile=x&value=a%20b 200"}));
  camsim_.get("/sim/requests?clear=1");
  EXPECT_TRUE(camsim_.requestTargets().empty());
}

TEST_F(CamsimControl, JsonDocumentsAndAnOversizedHead) {
  const CamsimProcess::Answer log = authed("/api/json/status/messagesystem/eventvariables/log");
  EXPECT_NE(log.head.find("Content-Type: application/json"), std::string::npos);
  EXPECT_EQ(log.body, "[]") << "a camera without messages has an empty event-variable log";
  EXPECT_EQ(camsim_.get("/sim/json?path=/api/json/x/y&body=%7B%22a%22%3A1%7D"), "OK\r\n");
  EXPECT_EQ(authed("/api/json/x/y").body, "{\"a\":1}");

  const std::string big = "X-Big: " + std::string(20000, 'a') + "\r\n";
  EXPECT_EQ(camsim_.request("/sim/state?section=jpeg", big).status, 431);
  EXPECT_EQ(camsim_.get("/sim/state?section=jpeg&quality"), "quality=80\r\n") << "the simulator goes on";
}

TEST(CamsimModels, SnapshotHeadersFollowTheModel) {
  struct Expected {
    std::string model, firmware;
    bool thermal;
  };
  for (const Expected& expected : {Expected{"VX-S10", "4.2.1", false}, Expected{"VX-T40", "4.5.1", true}}) {
    CamsimProcess camsim({"--model", expected.model, "--picture", "160x96"});
    const CamsimProcess::Answer picture = camsim.request("/record/current.jpg");
    EXPECT_NE(picture.head.find("Content-Type: image/jpeg"), std::string::npos);
    EXPECT_NE(picture.head.find("SWV: " + expected.firmware + "\r"), std::string::npos) << picture.head;
    EXPECT_NE(picture.head.find("CFL: " + expected.model + "\r"), std::string::npos) << picture.head;
    EXPECT_EQ(picture.head.find("TSL: TR-1") != std::string::npos, expected.thermal) << picture.head;
    EXPECT_EQ(decodedSize(picture.body), "160x96");
    EXPECT_EQ(camsim.stop(), 0);
  }
}

TEST(CamsimModels, DualLensModelsHoldTwoValuesPerLensKey) {
  CamsimProcess camsim({"--model", "VX-D20"});
  EXPECT_EQ(camsim.get("/sim/state?section=imagecontrol&brightness&camera&quality"),
            "brightness=0+0\r\ncamera=both\r\nquality=80\r\n");
  EXPECT_EQ(camsim.get("/sim/state?section=quickcontrol&wb_profile"), "wb_profile=auto+auto\r\n");
  EXPECT_EQ(camsim.stop(), 0);
}

}  // namespace
