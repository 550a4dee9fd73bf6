// Credentials and certificates end to end through the real module (every kind of request against
// a camera that takes Digest only: QrmhostCamsimTest.CommandsPrint...).
// A wrong password is refused once per request, as with Basic. HTTPS cameras: `fingerprint` shows
// the certificate, and a pinned one is the only one accepted.
#include <string>
#include <vector>

#include "CamsimProcess.h"
#include "ScratchFolder.h"
#include "TestSupport.h"

namespace qrmhost_test {
namespace {

const char* const kPassword = "d1g3st-pw";

// Without "?auth=": Basic up front, refused, then Digest. Autodetect too. A wrong password: one
// failure report with 401, and each request asks twice at most (Basic, then Digest).
TEST(QrmhostCredentialsTest, BasicUpFrontThenDigestAndAWrongPasswordStillGives401) {
  CamsimProcess camera({"--user", "admin", "--password", kPassword, "--auth", "digest"});
  const auto live = runQrmhost(against(addressOf(camera, kPassword), "VX-S10", {"live", "--frames", "5"}));
  EXPECT_EQ(live.exitStatus, 0) << live.err;
  const auto found = runQrmhost(withModule({"autodetect", addressOf(camera, kPassword)}));
  EXPECT_TRUE(contains(found.out, R"("model":"VX-S10")")) << found.out << found.err;
  EXPECT_TRUE(contains(camera.get("/sim/requests"), R"("auth":"basic")"));

  const auto wrong = runQrmhost(against(addressOf(camera, "wrong"), "VX-S10", {"device", "--seconds", "1"}));
  EXPECT_EQ(wrong.exitStatus, 3) << wrong.err;
  expectOnce(wrong, {R"({"kind":"device","state":"failed","code":401)"});

  CamsimProcess either({"--user", "admin", "--password", kPassword, "--auth", "both"});
  const auto basic = runQrmhost(against(addressOf(either, kPassword), "VX-S10", {"live", "--frames", "5"}));
  EXPECT_EQ(basic.exitStatus, 0) << basic.err;
  EXPECT_FALSE(contains(either.get("/sim/requests"), R"("status":401)")) << "Basic is taken: no challenge";
}

// `fingerprint` shows the certificate, and a pinned one is the only one accepted. With
// ORSEL_VANTREL_TLS_VERIFY=1 and the camera's certificate trusted (made for "localhost"), the name
// the camera is addressed by is checked too: "localhost" passes, 127.0.0.1 does not. Without the
// certificate trusted neither passes.
TEST(QrmhostCredentialsTest, FingerprintShowsTheCertificateThatThePinThenRequiresAndVerificationChecksTheName) {
  ScratchFolder folder;
  const std::string certificate = folder.file("camera.pem");
  CamsimProcess camera({"--cert-out", certificate}, true);
  const std::string port = std::to_string(camera.httpsPort()), https = "https://127.0.0.1:" + port + "/";
  const auto shown = runQrmhost(withModule({"fingerprint", https}));
  EXPECT_EQ(shown.exitStatus, 0) << shown.err;
  EXPECT_EQ(shown.out, R"({"kind":"fingerprint","camera":"127.0.0.1:)" + port + R"(","sha256":")" +
                           camera.httpsFingerprint() + "\"}\n");
  expectUsageExit(runQrmhost(withModule({"fingerprint", "http://127.0.0.1/"})), "an https:// address expected");
  const auto nobody = runQrmhost(withModule({"fingerprint", "https://127.0.0.1:1/"}));
  EXPECT_EQ(nobody.exitStatus, 3);
  EXPECT_TRUE(contains(nobody.out, R"("code":111,"error":"connection refused")")) << nobody.out;

  std::string other = camera.httpsFingerprint();
  other[0] = other[0] == 'A' ? 'B' : 'A';
  const struct {
    std::string address;
    std::vector<std::string> environment;
    int status;
    const char* line;
  } cases[] = {
      {https + "?tls_fingerprint=" + camera.httpsFingerprint(), {}, 0, R"({"kind":"device","state":"connected","code":0})"},
      {https + "?tls_fingerprint=" + other, {}, 3,
       R"({"kind":"device","state":"failed","code":266,"error":"the camera's certificate is not the one)"},
      {"https://localhost:" + port + "/", {"ORSEL_VANTREL_TLS_VERIFY=1", "SSL_CERT_FILE=" + certificate}, 0, ""},
      {https, {"ORSEL_VANTREL_TLS_VERIFY=1", "SSL_CERT_FILE=" + certificate}, 3, ""},
      {"https://localhost:" + port + "/", {"ORSEL_VANTREL_TLS_VERIFY=1", "SSL_CERT_FILE=" + folder.file("e.pem")}, 3, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address + (c.environment.empty() ? "" : " " + c.environment[1]));
    const auto result = runQrmhost(against(c.address, "VX-S10", {"device", "--seconds", "0.5"}), c.environment);
    EXPECT_EQ(result.exitStatus, c.status) << result.out << result.err;
    if (*c.line) expectOnce(result, {c.line});
  }
}

}  // namespace
}  // namespace qrmhost_test
