// The camera API seen through curl: sections, authentication, HTTP/1.0, HTTPS, the request
// log, snapshots per model and JSON documents.
#include "CamsimProcess.h"
#include "Curl.h"
#include "JpegCheck.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::string> kCredentials = {"--user", "admin", "--password", "meinsm"};

std::string url(const CamsimProcess& camsim, const std::string& target) {
  return "http://127.0.0.1:" + std::to_string(camsim.httpPort()) + target;
}

class CamsimControl : public ::testing::Test {
 protected:
  // A clean exit also means no sanitizer report inside the simulator.
  void TearDown() override { EXPECT_EQ(camsim_.stop(), 0); }

  CamsimControl() : camsim_(kCredentials, true) {}

  CurlResult authed(const std::string& target, std::vector<std::string> extra = {}) {
    extra.insert(extra.end(), {"-u", "admin:meinsm", url(camsim_, target)});
    return runCurl(extra);
  }

  CamsimProcess camsim_;
};

TEST_F(CamsimControl, ReadsAndSetsSectionsWithCredentials) {
  const CurlResult read = authed("/control/control?read&section=imagecontrol&brightness&camera&nokey");
  EXPECT_EQ(read.status, 200);
  EXPECT_EQ(read.body, "brightness=0\r\ncamera=auto\r\n");
  EXPECT_EQ(authed("/control/control?set&section=imagecontrol&brightness=30%2B50&sharpen=3").body, "OK\r\n");
  // '+' stays '+': dual-lens values are written with it.
  EXPECT_EQ(authed("/control/control?read&section=imagecontrol&sharpen&brightness").body,
            "sharpen=3\r\nbrightness=30+50\r\n");
  EXPECT_EQ(authed("/control/control?set&section=quickcontrol&color=1+2").status, 200);
  EXPECT_EQ(camsim_.get("/sim/state?section=quickcontrol&color"), "color=1+2\r\n");
}

TEST_F(CamsimControl, SectionWithoutReadIsASetAndUnknownSectionsAre404) {
  EXPECT_EQ(authed("/control/control?section=general&framerate100=1250").body, "OK\r\n");
  EXPECT_EQ(camsim_.get("/sim/state?section=general&framerate100"), "framerate100=1250\r\n");
  EXPECT_EQ(authed("/control/control?read&section=nosuchsection").status, 404);
  EXPECT_EQ(authed("/control/control?read").status, 400);
  EXPECT_EQ(authed("/control/control?set&brightness=1").status, 400);
  EXPECT_EQ(authed("/control/control?set&section=newsection&a=1").status, 200);
  EXPECT_EQ(authed("/control/control?read&section=newsection").body, "a=1\r\n");
  EXPECT_EQ(authed("/control/control?read&section=event_msg").status, 200) << "an empty section is there";
}

TEST_F(CamsimControl, WithoutOrWithWrongCredentialsAnswers401WithChallengeAlsoOverHttps) {
  const CurlResult anonymous = runCurl({url(camsim_, "/control/control?read&section=imagecontrol")});
  EXPECT_EQ(anonymous.status, 401);
  EXPECT_NE(anonymous.head.find("WWW-Authenticate: Basic realm=\"Vantrel\""), std::string::npos) << anonymous.head;
  EXPECT_EQ(runCurl({"-u", "admin:wrong", url(camsim_, "/control/control?read&section=jpeg")}).status, 401);
  EXPECT_EQ(camsim_.request("/control/faststream.jpg?stream=full").status, 401);
  // Control paths stay open.
  EXPECT_EQ(runCurl({url(camsim_, "/sim/state?section=jpeg&quality")}).body, "quality=80\r\n");

  const std::string https = "https://127.0.0.1:" + std::to_string(camsim_.httpsPort());
  const CurlResult secure = runCurl({"-k", "-u", "admin:meinsm", https + "/control/control?read&section=audio"});
  EXPECT_EQ(secure.exitCode, 0);
  EXPECT_EQ(secure.body, "PREAMPLIFIER=0\r\n");
  EXPECT_EQ(runCurl({"-k", https + "/control/control?read&section=audio"}).status, 401);
  // Without -k curl must refuse the self-signed certificate.
  EXPECT_NE(runCurl({https + "/sim/state?section=audio"}).exitCode, 0);
}

TEST_F(CamsimControl, RequestLogKeepsArrivalOrderAndStatusButNotControlPaths) {
  camsim_.clearRequests();
  authed("/control/control?read&section=jpeg");
  runCurl({url(camsim_, "/control/control?read&section=color")});
  authed("/no/such/path");
  camsim_.get("/sim/state?section=jpeg");
  authed("/admin/control?profile=x&value=a%20b");

  const std::string log = camsim_.get("/sim/requests");
  EXPECT_EQ(camsim_.requestTargets(),
            (std::vector<std::string>{"/control/control?read&section=jpeg", "/control/control?read&section=color",
                                      "/no/such/path", "/admin/control?profile=x&value=a%20b"}));
  const auto first = log.find("\"status\":200");
  const auto second = log.find("\"status\":401");
  const auto third = log.find("\"status\":404");
  EXPECT_TRUE(first < second && second < third) << log;
  EXPECT_NE(log.find("{\"method\":\"GET\",\"target\":\"/control/control?read&section=jpeg\",\"time\":"),
            std::string::npos);
  EXPECT_TRUE(camsim_.waitForRequest("/admin/control", 1));
  camsim_.get("/sim/requests?clear=1");
  EXPECT_TRUE(camsim_.requestTargets().empty());
}

TEST_F(CamsimControl, AdminAudioJsonAndUnknownPaths) {
  EXPECT_EQ(authed("/admin/audio?setMicro=1").body, "OK\r\n");
  EXPECT_EQ(authed("/admin/audio?setMicro=7").status, 400);
  const CurlResult log = authed("/api/json/status/messagesystem/eventvariables/log");
  EXPECT_NE(log.head.find("Content-Type: application/json"), std::string::npos);
  EXPECT_EQ(log.body, "[]") << "a camera without messages has an empty event-variable log";
  EXPECT_EQ(camsim_.get("/sim/json?path=/api/json/x/y&body=%7B%22a%22%3A1%7D"), "OK\r\n");
  EXPECT_EQ(authed("/api/json/x/y").body, "{\"a\":1}");
  for (const char* unknown : {"/api/json/unknown", "/nothing/here"}) EXPECT_EQ(authed(unknown).status, 404);
  EXPECT_EQ(camsim_.request("/sim/nothing").status, 404);
}

TEST_F(CamsimControl, OversizedRequestHeadIsRefused) {
  const CamsimProcess::Answer refused =
      camsim_.request("/sim/state?section=jpeg", "X-Big: " + std::string(20000, 'a') + "\r\n");
  EXPECT_EQ(refused.status, 431);
  EXPECT_EQ(camsim_.get("/sim/state?section=jpeg&quality"), "quality=80\r\n") << "the simulator goes on";
}

TEST(CamsimModels, SnapshotHeadersFollowTheModel) {
  struct Expected {
    std::string model, firmware;
    bool thermal;
  };
  for (const Expected& expected : {Expected{"VX-S10", "4.2.1", false}, Expected{"VX-T40", "4.5.1", true}}) {
    CamsimProcess camsim({"--model", expected.model, "--picture", "160x96"});
    const CurlResult picture = runCurl({url(camsim, "/record/current.jpg")});
    EXPECT_EQ(picture.status, 200);
    EXPECT_NE(picture.head.find("Content-Type: image/jpeg"), std::string::npos);
    EXPECT_NE(picture.head.find("SWV: " + expected.firmware + "\r"), std::string::npos) << picture.head;
    EXPECT_NE(picture.head.find("CFL: " + expected.model + "\r"), std::string::npos) << picture.head;
    EXPECT_EQ(picture.head.find("TSL: TR-1") != std::string::npos, expected.thermal) << picture.head;
    const DecodedSize size = decodeJpeg(picture.body);
    EXPECT_TRUE(size.ok);
    EXPECT_EQ(size.width, 160);
    EXPECT_EQ(size.height, 96);
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
