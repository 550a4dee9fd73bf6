// qrmhost's edge-storage commands with the real module against the camera simulator's timeline
// (three sequences of 3 s, 1 s apart, from 1500000000.5): the ranges and the holes between them,
// a seek and a play to the camera's last sequence.
#include <string>
#include <vector>

#include "CamsimProcess.h"
#include "TestSupport.h"

namespace qrmhost_test {
namespace {

class QrmhostStorageTest : public ::testing::Test {
 protected:
  void SetUp() override { camera.get("/sim/recordings?count=3&length=3&gap=1&start=1500000000&pictures=2"); }
  ChildResult run(std::vector<std::string> command) {
    return runQrmhost(qrmhost_test::against(addressOf(camera), "VX-S10", std::move(command)));
  }
  CamsimProcess camera;
};

// The lines without the device's connection reports.
std::vector<std::string> storageLines(const ChildResult& result) {
  std::vector<std::string> lines;
  for (const auto& line : result.outLines())
    if (!contains(line, R"("kind":"device")")) lines.push_back(line);
  return lines;
}

TEST_F(QrmhostStorageTest, RecordingsPrintTheSpanTheRangesNewestFirstAndTheHolesBetween) {
  const auto result = run({"recordings", "--from", "2017-07-14T02:40:00Z", "--to", "1500000012000", "--gaps"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(storageLines(result), (std::vector<std::string>{
                                      R"({"kind":"storage","begin":1500000000500,"end":1500000011500})",
                                      R"({"kind":"range","id":"1002","begin":1500000008500,"end":1500000011500})",
                                      R"({"kind":"range","id":"1001","begin":1500000004500,"end":1500000007500})",
                                      R"({"kind":"range","id":"1000","begin":1500000000500,"end":1500000003500})",
                                      R"({"kind":"gap","begin":1500000000000,"end":1500000000500})",
                                      R"({"kind":"gap","begin":1500000003500,"end":1500000004500})",
                                      R"({"kind":"gap","begin":1500000007500,"end":1500000008500})",
                                      R"({"kind":"gap","begin":1500000011500,"end":1500000012000})",
                                      R"({"kind":"done","code":0})",
                                  }))
      << result.err;
}

TEST_F(QrmhostStorageTest, PlaybackSeeksThenPlaysToTheEnd) {
  const auto result = run({"playback", "--seek", "1500000008000", "--play", "--seconds", "20"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const auto lines = storageLines(result);
  ASSERT_EQ(lines.size(), 9u) << result.out;
  const std::vector<std::string> starts = {
      R"({"kind":"frame","codec":"MJPEG","key":true,"time":1500000008500,"iso":"2017-07-14T02:40:08.500Z","size":)",
      R"({"kind":"seek","code":0})",
      R"({"kind":"play","code":0})",
      R"({"kind":"frame","codec":"Zelta","key":true,"time":1500000008500,"iso":"2017-07-14T02:40:08.500Z","size":)",
      R"({"kind":"audio","size":800,"time":1500000008500,"iso":"2017-07-14T02:40:08.500Z"})",
      R"({"kind":"frame","codec":"Zelta","key":false,"time":1500000010000,"iso":"2017-07-14T02:40:10.000Z","size":)",
      R"({"kind":"audio","size":800,"time":1500000010000,"iso":"2017-07-14T02:40:10.000Z"})",
      R"({"kind":"finished","code":104,"error":"connection closed by the camera"})",
      R"({"kind":"done","frames":3,"audio_frames":2})",
  };
  for (size_t i = 0; i < starts.size(); ++i) EXPECT_EQ(lines[i].rfind(starts[i], 0), 0u) << lines[i];
}

}  // namespace
}  // namespace qrmhost_test
