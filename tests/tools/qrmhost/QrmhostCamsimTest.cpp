// qrmhost with the real module against the camera simulator: what a person sees when trying the
// module, end to end through dlopen, the contract and the camera's HTTP interface.
#include <filesystem>

#include "CamsimProcess.h"
#include "TestSupport.h"

namespace qrmhost_test {
namespace {

const char* const kSimPassword = "pw-9f3k";

class QrmhostCamsimTest : public ::testing::Test {
 protected:
  std::vector<std::string> against(const std::string& model, std::vector<std::string> command) {
    const std::string address =
        "http://admin:" + std::string(kSimPassword) + "@127.0.0.1:" + std::to_string(camera.httpPort()) + "/";
    std::vector<std::string> arguments = {"--module", VANTREL_MODULE_PATH, "--log-level", "0", "--camera",
                                          address,    "--model",           model};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return arguments;
  }

  CamsimProcess camera{{"--user", "admin", "--password", kSimPassword}};
};

TEST_F(QrmhostCamsimTest, DeviceConnectsAndDisconnects) {
  const auto result = runQrmhost(against("VX-S10", {"device", "--seconds", "1"}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const auto lines = result.outLines();
  ASSERT_EQ(lines.size(), 2u) << result.out;
  EXPECT_EQ(lines[0], R"({"kind":"device","state":"connected","code":0})");
  EXPECT_EQ(lines[1], R"({"kind":"device","state":"disconnected","code":0})");
  EXPECT_FALSE(contains(result.out + result.err, kSimPassword));
}

TEST_F(QrmhostCamsimTest, LiveVideoWithAudioSettingsAndSavedPictures) {
  const std::string saveDir = ::testing::TempDir() + "qrmhost-live-pictures";
  std::filesystem::remove_all(saveDir);
  const auto result = runQrmhost(against("VX-S10", {"live", "--channel", "0", "--stream", "0", "--frames", "30",
                                                    "--audio", "--save", saveDir, "--set", "compression=3"}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const auto lines = result.outLines();
  EXPECT_GE(countContaining(lines, R"({"kind":"frame","codec":"Zelta","key":true)"), 1u);
  EXPECT_GE(countContaining(lines, R"({"kind":"frame","codec":"Zelta","key":false)"), 1u);
  EXPECT_GE(countContaining(lines, R"({"kind":"audio","size":)"), 1u);
  EXPECT_EQ(countContaining(lines, R"({"kind":"settings","code":0})"), 1u) << result.out;
  EXPECT_EQ(countContaining(lines, R"({"kind":"failed")"), 0u) << result.out;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind(R"({"kind":"summary","frames":)", 0), 0u) << lines.back();
  EXPECT_FALSE(contains(result.out + result.err, kSimPassword));

  EXPECT_TRUE(std::filesystem::exists(saveDir + "/000001.jpg")) << "a connection starts with a key picture";
  const auto targets = camera.requestTargets();
  EXPECT_NE(std::find(targets.begin(), targets.end(), "/control/control?section=imagecontrol&quality=70"),
            targets.end());
  EXPECT_NE(std::find(targets.begin(), targets.end(), "/admin/audio?setMicro=1"), targets.end());
  std::filesystem::remove_all(saveDir);
}

TEST_F(QrmhostCamsimTest, LiveReportsAnOutageOnceAndGoesOn) {
  camera.fault("path=/control/faststream.jpg&drop_after_parts=5&count=1");
  const auto result = runQrmhost(against("VX-S10", {"live", "--channel", "0", "--stream", "0", "--frames", "15"}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const auto lines = result.outLines();
  EXPECT_EQ(countContaining(lines, R"({"kind":"failed")"), 1u) << result.out;
  EXPECT_GE(countContaining(lines, R"({"kind":"frame")"), 15u);
}

// The end of a run against a camera that stopped sending: the source stops at once, its read is
// not left to the silence guard (which would log error 110 after 5 s).
TEST_F(QrmhostCamsimTest, LiveStopsAtOnceWhenTheCameraStalls) {
  camera.fault("path=/control/faststream.jpg&stall_after_parts=3");
  const auto result = runQrmhost(against("VX-S10", {"live", "--channel", "0", "--stream", "0", "--seconds", "2"}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const auto lines = result.outLines();
  EXPECT_EQ(countContaining(lines, R"({"kind":"frame")"), 3u) << result.out;
  EXPECT_EQ(countContaining(lines, R"({"kind":"stopped"})"), 1u) << result.out;
  EXPECT_EQ(countContaining(lines, R"({"kind":"failed")"), 0u) << result.out;
  EXPECT_FALSE(contains(result.err, "system:110")) << result.err;
}

TEST_F(QrmhostCamsimTest, PtzOperationsAndModelsWithoutTelemetry) {
  const auto area = runQrmhost(against("VX-P50", {"ptz", "area", "0", "0", "1", "1"}));
  EXPECT_EQ(area.exitStatus, 0) << area.err;
  EXPECT_EQ(countContaining(area.outLines(), R"({"kind":"ptz","code":0})"), 1u) << area.out;
  const auto preset = runQrmhost(against("VX-P50", {"ptz", "preset-go", "64"}));
  EXPECT_EQ(countContaining(preset.outLines(), R"({"kind":"ptz","code":6})"), 1u) << preset.out;
  const auto targets = camera.requestTargets();
  EXPECT_EQ(std::count_if(targets.begin(), targets.end(),
                          [](const std::string& t) { return t.rfind("/control/click.cgi", 0) == 0; }),
            1);
  EXPECT_NE(std::find(targets.begin(), targets.end(), "/control/click.cgi?rect=0,0,1279,959"), targets.end());

  const auto none = runQrmhost(against("VX-S10", {"ptz", "zoom", "1"}));
  EXPECT_EQ(none.exitStatus, 2);
  EXPECT_TRUE(contains(none.err, "\nqrmhost: the module has no telemetry channel 0 for VX-S10\n")) << none.err;
}

TEST_F(QrmhostCamsimTest, AutodetectNamesTheCameraOrTheFailure) {
  const std::string address =
      "http://admin:" + std::string(kSimPassword) + "@127.0.0.1:" + std::to_string(camera.httpPort()) + "/";
  const auto found = runQrmhost({"--module", VANTREL_MODULE_PATH, "autodetect", address});
  EXPECT_EQ(found.exitStatus, 0) << found.err;
  EXPECT_EQ(found.out, "{\"kind\":\"autodetect\",\"brand\":\"Vantrel\",\"model\":\"VX-S10\",\"firmware\":\"4.2.1\"}\n");
  const auto refused = runQrmhost({"--module", VANTREL_MODULE_PATH, "autodetect", "http://127.0.0.1:1/"});
  EXPECT_EQ(refused.out, "{\"kind\":\"autodetect\",\"error\":111}\n");
  EXPECT_FALSE(contains(found.out + found.err, kSimPassword));
}

TEST_F(QrmhostCamsimTest, IoReportsInputsAndSwitchesOutputs) {
  camera.get("/sim/io?cts=1");
  const auto result = runQrmhost(against("VX-IO60", {"io", "--seconds", "1", "--output", "0=on", "--output", "3=off"}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const auto lines = result.outLines();
  EXPECT_EQ(countContaining(lines, R"({"kind":"started"})"), 1u) << result.out;
  EXPECT_EQ(countContaining(lines, R"({"kind":"input","index":1,"active":true,"time":)"), 1u) << result.out;
  EXPECT_EQ(countContaining(lines, R"({"kind":"output","index":0,"code":0})"), 1u) << result.out;
  EXPECT_EQ(countContaining(lines, R"({"kind":"output","index":3,"code":6})"), 1u) << result.out;
  EXPECT_EQ(countContaining(lines, R"({"kind":"stopped"})"), 1u) << result.out;
  EXPECT_NE(camera.get("/sim/io").find("\"output\":true"), std::string::npos);
  EXPECT_EQ(runQrmhost(against("VX-IO60", {"io", "--output", "on"})).exitStatus, 2);
}

}  // namespace
}  // namespace qrmhost_test
