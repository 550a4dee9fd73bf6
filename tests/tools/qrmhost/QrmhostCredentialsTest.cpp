// Credentials and certificates end to end through the real module. Cameras set to Digest only: every kind of request (the
// device's check, live video and audio, the loudspeaker, a detector, I/O, the storage search and
// play, the thermal event stream, autodetect) answers the camera's challenge; with "?auth=digest"
// no request carries Basic; a wrong password is refused once per request, as with Basic. HTTPS
// cameras: `fingerprint` shows the certificate, and a pinned one is the only one accepted.
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "CamsimProcess.h"
#include "ScratchFolder.h"
#include "TestSupport.h"

namespace qrmhost_test {
namespace {

const char* const kPassword = "d1g3st-pw";

// The schemes of the camera's request log: how many requests used Basic, and how many used Digest
// and were answered 2xx.
struct Schemes {
  size_t basic = 0;
  size_t digestAccepted = 0;
};
Schemes schemesOf(const CamsimProcess& camera) {
  Schemes seen;
  for (const auto& text : splitLines(camera.get("/sim/requests"))) {
    const auto line = nlohmann::json::parse(text);
    seen.basic += line["auth"] == "basic";
    seen.digestAccepted += line["auth"] == "digest" && line["status"].get<int>() / 100 == 2;
  }
  return seen;
}

TEST(QrmhostCredentialsTest, EveryRequestKindAnswersTheChallengeWithoutBasic) {
  ScratchFolder folder;
  const std::string audio = folder.file("audio.raw");
  std::ofstream(audio, std::ios::binary) << std::string(1600, '\x55');
  const struct {
    const char* model;
    std::vector<std::string> command;
    const char* line;  // a line the command prints when its requests got through
  } cases[] = {
      {"VX-S10", {"live", "--frames", "10", "--audio"}, R"({"kind":"audio","size":)"},
      // The level is set first: the loudspeaker's call does not read the camera's answer, so it
      // answers a challenge an earlier request met.
      {"VX-S10", {"speak", "--file", audio, "--set", "volume=80"}, R"({"kind":"sent","buffers":)"},
      {"VX-D20", {"detect", "--detector", "motion", "--seconds", "1"}, R"({"kind":"started"})"},
      {"VX-IO60", {"io", "--seconds", "1", "--output", "0=on"}, R"({"kind":"output","index":0,"code":0})"},
      {"VX-S10", {"recordings", "--from", "2017-07-14T02:40:00Z"}, R"({"kind":"done","code":0)"},
      {"VX-S10", {"playback", "--seek", "1500000001000", "--play", "--seconds", "2"}, R"({"kind":"frame")"},
      {"VX-T40", {"thermal", "--detector", "temperatures", "--seconds", "1.5"}, R"({"kind":"matrix")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command[0]);
    CamsimProcess camera({"--model", c.model, "--user", "admin", "--password", kPassword, "--auth", "digest"});
    if (c.command[0] == "recordings" || c.command[0] == "playback")
      camera.get("/sim/recordings?count=3&length=3&gap=1&start=1500000000&pictures=2");
    const auto result = runQrmhost(against(addressOf(camera, kPassword) + "?auth=digest", c.model, c.command));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_GE(countContaining(result.outLines(), c.line), 1u) << result.out;
    EXPECT_FALSE(contains(result.out + result.err, kPassword));
    const Schemes schemes = schemesOf(camera);
    EXPECT_EQ(schemes.basic, 0u) << camera.get("/sim/requests");
    EXPECT_GE(schemes.digestAccepted, 2u) << camera.get("/sim/requests");
  }
}

// Without "?auth=": Basic up front, refused, then Digest. Autodetect too. A wrong password: one
// failure report with 401, and each request asks twice at most (Basic, then Digest).
TEST(QrmhostCredentialsTest, BasicUpFrontThenDigestAndAWrongPasswordStillGives401) {
  CamsimProcess camera({"--user", "admin", "--password", kPassword, "--auth", "digest"});
  const auto live = runQrmhost(against(addressOf(camera, kPassword), "VX-S10", {"live", "--frames", "5"}));
  EXPECT_EQ(live.exitStatus, 0) << live.err;
  const auto found = runQrmhost(withModule({"autodetect", addressOf(camera, kPassword)}));
  EXPECT_TRUE(contains(found.out, R"("model":"VX-S10")")) << found.out << found.err;
  EXPECT_GE(schemesOf(camera).basic, 1u);

  const auto wrong = runQrmhost(against(addressOf(camera, "wrong"), "VX-S10", {"device", "--seconds", "1"}));
  EXPECT_EQ(wrong.exitStatus, 3) << wrong.err;
  expectOnce(wrong, {R"({"kind":"device","state":"failed","code":401)"});

  CamsimProcess either({"--user", "admin", "--password", kPassword, "--auth", "both"});
  const auto basic = runQrmhost(against(addressOf(either, kPassword), "VX-S10", {"live", "--frames", "5"}));
  EXPECT_EQ(basic.exitStatus, 0) << basic.err;
  EXPECT_FALSE(contains(either.get("/sim/requests"), R"("status":401)")) << "Basic is taken: no challenge";
}

TEST(QrmhostCredentialsTest, FingerprintShowsTheCertificateThatThePinThenRequires) {
  CamsimProcess camera({}, true);
  const std::string https = "https://127.0.0.1:" + std::to_string(camera.httpsPort()) + "/";
  const auto shown = runQrmhost(withModule({"fingerprint", https}));
  EXPECT_EQ(shown.exitStatus, 0) << shown.err;
  EXPECT_EQ(shown.out, R"({"kind":"fingerprint","camera":"127.0.0.1:)" + std::to_string(camera.httpsPort()) +
                           R"(","sha256":")" + camera.httpsFingerprint() + "\"}\n");
  expectUsageExit(runQrmhost(withModule({"fingerprint", "http://127.0.0.1/"})), "an https:// address expected");
  const auto nobody = runQrmhost(withModule({"fingerprint", "https://127.0.0.1:1/"}));
  EXPECT_EQ(nobody.exitStatus, 3);
  EXPECT_TRUE(contains(nobody.out, R"("code":111,"error":"connection refused")")) << nobody.out;

  std::string other = camera.httpsFingerprint();
  other[0] = other[0] == 'A' ? 'B' : 'A';
  const struct {
    std::string pin;
    int status;
    const char* line;
  } cases[] = {
      {camera.httpsFingerprint(), 0, R"({"kind":"device","state":"connected","code":0})"},
      {other, 3, R"({"kind":"device","state":"failed","code":266,"error":"the camera's certificate is not the one)"},
  };
  for (const auto& c : cases) {
    const auto result = runQrmhost(against(https + "?tls_fingerprint=" + c.pin, "VX-S10", {"device", "--seconds", "0.5"}));
    EXPECT_EQ(result.exitStatus, c.status) << result.err;
    expectOnce(result, {c.line});
  }
}

// With ORSEL_VANTREL_TLS_VERIFY=1 and the camera's certificate trusted (made for "localhost"),
// the name the camera is addressed by is checked too: "localhost" passes, 127.0.0.1 does not.
// Without the certificate trusted neither passes.
TEST(QrmhostCredentialsTest, VerificationChecksTheHostNameNotOnlyTheChain) {
  ScratchFolder folder;
  const std::string certificate = folder.file("camera.pem");
  CamsimProcess camera({"--cert-out", certificate}, true);
  const std::string port = std::to_string(camera.httpsPort());
  const struct {
    std::string host;
    bool trusted;
    int status;
  } cases[] = {{"localhost", true, 0}, {"127.0.0.1", true, 3}, {"localhost", false, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host + (c.trusted ? " trusted" : " untrusted"));
    const auto result =
        runQrmhost(against("https://" + c.host + ":" + port + "/", "VX-S10", {"device", "--seconds", "0.5"}),
                   {"ORSEL_VANTREL_TLS_VERIFY=1", "SSL_CERT_FILE=" + (c.trusted ? certificate : folder.file("e.pem"))});
    EXPECT_EQ(result.exitStatus, c.status) << result.out << result.err;
  }
}

}  // namespace
}  // namespace qrmhost_test
