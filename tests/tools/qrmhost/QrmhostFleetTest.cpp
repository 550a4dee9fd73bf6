// qrmhost fleet: many cameras in one process against camera simulators. (The camera list's
// mistakes: QrmhostCommandLine.UsageErrorsExitTwoWithOneLineAndNoPassword.)
#include <signal.h>

#include <fstream>
#include <functional>
#include <map>

#include <nlohmann/json.hpp>

#include "CamsimProcess.h"
#include "ScratchFolder.h"
#include "TestSupport.h"

namespace qrmhost_test {
namespace {

using Json = nlohmann::json;
const char* const kSimPassword = "fleet-pw-77";

// Whether `second` follows `first` in `out`.
bool inOrder(const std::string& out, const std::string& first, const std::string& second) {
  const auto at = out.find(first);
  return at != std::string::npos && out.find(second, at) != std::string::npos;
}

class QrmhostFleetTest : public ::testing::Test {
 protected:
  static std::unique_ptr<CamsimProcess> startCamera() {
    return std::make_unique<CamsimProcess>(Lines{"--user", "admin", "--password", kSimPassword, "--picture", "96x64"});
  }
  // Runs the fleet of `config` until `until` holds for its stdout and stderr so far (or 60 s pass),
  // then interrupts it.
  ChildResult runFleetUntil(const Json& config,
                            const std::function<bool(const std::string& out, const std::string& err)>& until,
                            const std::string& logLevel = "3") {
    std::ofstream(folder.file("fleet.json")) << config.dump();
    ChildProcess child(QRMHOST_PATH, withModule({"--log-level", logLevel, "fleet", "--config",
                                                 folder.file("fleet.json"), "--health-every", "0.3"}));
    const auto done = [&](const std::string& out) { return until(out, child.errSoFar()); };
    EXPECT_TRUE(child.waitForOut(done, Clock::now() + std::chrono::seconds(60))) << child.outSoFar();
    child.sendSignal(SIGINT);
    auto result = child.finish(Clock::now() + std::chrono::seconds(30));
    EXPECT_FALSE(contains(result.out + result.err, kSimPassword));
    EXPECT_FALSE(contains(result.err, "never destroyed")) << result.err;
    return result;
  }
  static std::vector<Json> jsonOfKind(const ChildResult& result, const std::string& kind) {
    std::vector<Json> found;
    for (const auto& line : linesOfKind(result, kind)) found.push_back(Json::parse(line));
    return found;
  }

  ScratchFolder folder;
};

// Ten cameras of two channels each end with a summary per camera. One channel stalls: it shows in
// its health (its pictures stop, the age of the last one grows, then one failure and a reconnect,
// and pictures again) while the others stream on.
TEST_F(QrmhostFleetTest, TwentyChannelsEndWithASummaryPerCamera) {
  std::vector<std::unique_ptr<CamsimProcess>> cameras;
  Json config = Json::array();
  for (int i = 0; i < 10; ++i) {
    cameras.push_back(startCamera());
    config.push_back({{"camera", addressOf(*cameras.back(), kSimPassword)},
                      {"model", "VX-S10"},
                      {"live", {{{"channel", 0}, {"stream", 0}}, {{"channel", 0}, {"stream", 1}}}}});
  }
  config[0]["live"][0].update({{"audio", true}, {"settings", {{"fps", 25}}}});
  cameras[1]->fault("path=/control/faststream.jpg?stream=full&count=1&stall_after_parts=3");  // stream 1
  // The stalled stream is given up after the module's silence guard, then comes back; every
  // channel reports its first picture with a change of state.
  const std::string stalledName = cameraName(*cameras[1]);
  const std::string channel = "\"camera\":\"" + stalledName + "\",\"channel\":0,\"stream\":1,\"state\":";
  const auto result = runFleetUntil(config, [&](const std::string& out, const std::string&) {
    return inOrder(out, channel + "\"failed\"", channel + "\"streaming\"") &&
           countContaining(splitLines(out), "\"state\":\"streaming\"") >= 40;  // two rounds of all twenty
  });
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const auto summaries = jsonOfKind(result, "summary");
  ASSERT_EQ(summaries.size(), cameras.size()) << result.out;
  for (size_t i = 0; i < cameras.size(); ++i) {
    EXPECT_EQ(summaries[i]["camera"], cameraName(*cameras[i]));
    EXPECT_EQ(summaries[i]["channels"], 2);
    EXPECT_GT(summaries[i]["frames"].get<int>(), 0) << summaries[i];
  }
  EXPECT_EQ(jsonOfKind(result, "device").size(), 2 * cameras.size()) << result.out;  // connected, disconnected
  // A line per round for the whole fleet, and a grand total last.
  const auto rounds = jsonOfKind(result, "round");
  EXPECT_TRUE(std::any_of(rounds.begin(), rounds.end(), [](const Json& round) { return round["streaming"] == 20; }))
      << result.out;
  const auto total = Json::parse(result.outLines().back());
  EXPECT_EQ(total["kind"], "total");
  EXPECT_EQ(total["cameras"], 10);
  EXPECT_EQ(total["channels"], 20);
  int frames = 0;
  for (const auto& summary : summaries) frames += summary["frames"].get<int>();
  EXPECT_EQ(total["frames"], frames);

  std::map<std::string, std::vector<Json>> health;
  for (const auto& line : jsonOfKind(result, "health")) health[line["camera"]].push_back(line);
  const auto& calm = health[cameraName(*cameras[0])];
  const auto& troubled = health[stalledName];
  ASSERT_GE(calm.size(), 3u) << result.out;
  ASSERT_GE(troubled.size(), 3u) << result.out;
  for (const auto& line : calm) EXPECT_EQ(line["failures"], 0) << line;
  EXPECT_GT(calm.back()["frames"].get<int>(), calm.front()["frames"].get<int>());
  EXPECT_GT(calm[calm.size() - 2]["audio_frames"].get<int>(), 0);
  const auto calmStreams = cameras[0]->requestTargets("/control/faststream.jpg?stream=Zelta");
  ASSERT_FALSE(calmStreams.empty());
  EXPECT_TRUE(contains(calmStreams.back(), "&fps=25")) << calmStreams.back() << ": the channel's settings";
  int largestAge = 0, failedLines = 0;
  for (const auto& line : troubled) {
    if (line["last_frame_age_ms"].is_number()) largestAge = std::max(largestAge, line["last_frame_age_ms"].get<int>());
    failedLines += line["state"] == "failed";
  }
  EXPECT_GE(largestAge, 1000) << result.out;
  EXPECT_GE(failedLines, 1);
  EXPECT_EQ(troubled.back()["failures"], 1);
  EXPECT_TRUE(troubled.back()["code"].is_number() && troubled.back()["error"].is_string())
      << "the last failure's code and reason";
  EXPECT_GE(troubled.back()["reconnects"], 1);
  EXPECT_EQ(troubled.back()["state"], "stopped");
}

// A link that crawls: the simulator trickles every part, so pictures come at a fraction of the
// configured 20 a second while the connection works. The channel turns "degraded" (no failure),
// the module says so once at level 1, and once the link is fast again the channel streams again.
TEST_F(QrmhostFleetTest, ACrawlingLinkIsDegradedUntilItsRateRecovers) {
  auto camera = startCamera();
  const auto config =
      Json::array({{{"camera", addressOf(*camera, kSimPassword)}, {"model", "VX-S10"}, {"live", {{{"channel", 0}}}}}});
  const std::string channel = "\"camera\":\"" + cameraName(*camera) + "\",\"channel\":0,\"stream\":0,\"state\":";
  int phase = 0;  // 0 streaming fast, 1 crawling, 2 fast again
  const auto result = runFleetUntil(
      config,
      [&](const std::string& out, const std::string& err) {
        if (phase == 0 && contains(out, channel + "\"streaming\"")) {
          camera->fault("path=/control/faststream.jpg&running=1&trickle_bytes=100");
          phase = 1;
        }
        if (phase == 1 && contains(out, channel + "\"degraded\"") && contains(err, " Slow link: ")) {
          camera->request("/sim/fault?clear=1");
          phase = 2;
        }
        return phase == 2 && inOrder(out, channel + "\"degraded\"", channel + "\"streaming\"");
      },
      "1");
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  Lines states;  // the channel's states as its lines tell them, each once
  for (const auto& line : jsonOfKind(result, "health")) {
    if (states.empty() || states.back() != line["state"]) states.push_back(line["state"]);
    EXPECT_EQ(line["failures"], 0) << "a slow link is no failure: " << line;
  }
  if (!states.empty() && states.front() == "stopped") states.erase(states.begin());  // before the first picture
  EXPECT_EQ(states, (Lines{"streaming", "degraded", "streaming", "stopped"})) << result.out;
  EXPECT_EQ(countContaining(result.errLines(), " Slow link: "), 1u) << result.err;
  EXPECT_TRUE(contains(result.err, "less than half of the configured 20")) << result.err;
}

}  // namespace
}  // namespace qrmhost_test
