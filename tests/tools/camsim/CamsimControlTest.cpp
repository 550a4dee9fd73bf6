// The camera API as a client sees it: sections, authentication, the request log and snapshots.
// (HTTPS is exercised by the HTTP client's tests against the simulator; JSON documents and
// dual-lens values by the driver's.)
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

  CamsimProcess camsim_{{"--user", "admin", "--password", "meinsm", "--picture", "160x96"}};
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

// A snapshot carries the model's headers (the thermal sensor's is the driver's autodetect tests'),
// and the picture decodes at the asked size. A head too big is refused, and the simulator goes on.
TEST_F(CamsimControl, SnapshotAndAnOversizedHead) {
  const CamsimProcess::Answer picture = authed("/record/current.jpg");
  EXPECT_NE(picture.head.find("Content-Type: image/jpeg"), std::string::npos);
  EXPECT_NE(picture.head.find("SWV: 4.2.1\r"), std::string::npos) << picture.head;
  EXPECT_NE(picture.head.find("CFL: VX-S10\r"), std::string::npos) << picture.head;
  EXPECT_EQ(decodedSize(picture.body), "160x96");

  const std::string big = "X-Big: " + std::string(20000, 'a') + "\r\n";
  EXPECT_EQ(camsim_.request("/sim/state?section=jpeg", big).status, 431);
  EXPECT_EQ(camsim_.get("/sim/state?section=jpeg&quality"), "quality=80\r\n");
}

}  // namespace
