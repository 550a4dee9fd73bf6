// The sectioned settings reaching the simulator: a two-lens camera's lens reads and the source's
// lines (which request a set becomes: VideoSettingsTest).
#include "VideoFixture.h"
#include "VideoSourceVer2.h"

namespace {

using namespace std::chrono_literals;

const std::string kSet = "/control/control?set&section=";
const std::string kRead = "/control/control?read&section=";

// The other lens keeps its value; after a failed lens read the value goes to both lenses.
using VideoSourceVer2Test = CamsimVideoTest;

TEST_F(VideoSourceVer2Test, SectionsGoOutInOrderAndTheOtherLensKeepsItsValue) {
  startCamera("VX-D20", "VX-D20");
  ASSERT_NE(createVideo(), nullptr);
  ASSERT_NE(dynamic_cast<Vantrel::VideoSourceVer2*>(video), nullptr) << "a version-2 model";
  video->Start();
  onCamera(kSet + "exposure&brightness=30+50");
  camera->clearRequests();
  EXPECT_EQ(apply({{"cameraLens", "right"}, {"brightness", 40}, {"fps", 12}}), 0);
  camera->fault("path=/control/control?read%26section=exposure&close=1&count=1");
  EXPECT_EQ(apply({{"cameraLens", "right"}, {"brightness", 30}}), 0);
  const std::vector<std::string> expected = {kSet + "general&framerate100=1200&camera=right",
                                             kRead + "exposure&brightness",
                                             kSet + "exposure&brightness=40+50",
                                             kSet + "general&camera=right",
                                             kRead + "exposure&brightness",
                                             kSet + "exposure&brightness=30+30"};
  EXPECT_EQ(controlRequests(), expected);
  const auto fallback = lineWith(
      " HTTP error ocured while getting current settings from the device. Same settings will be applyed for both "
      "lens.");
  EXPECT_EQ(fallback.level, 3);
  EXPECT_EQ(fallback.function, "prepareLensCommand");

  EXPECT_EQ(apply({{"obscureImageArea", "10,10,100,100,0"}}), 0) << "a malformed area is left out, not refused";
  const auto line = lineWith(" Wrong format the parameter Obscure Image Area: '10,10,100,100,0' : ");
  EXPECT_EQ(line.level, 3);
  EXPECT_EQ(line.function, "doApplySettings");
  EXPECT_EQ(line.file, "Drivers/Vantrel/src/VideoSourceVer2");
}

}  // namespace
