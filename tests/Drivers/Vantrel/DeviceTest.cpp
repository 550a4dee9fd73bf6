// The device against the camera simulator: an unreadable address, arming and the lens query.
// Connection reports against every camera fault: LiveFaultMatrixTest's Device rows.

#include "VideoFixture.h"

namespace {

using namespace std::chrono_literals;

const char* const kArming = "/control/control?set&section=eventcontrol&edactiv=enable";
const char* const kLensQuery = "/control/control?read&section=imagecontrol&camera";

class DeviceCameraTest : public CamsimDeviceTest {
 protected:
  RecordingDeviceHandler handler;
};

TEST_F(DeviceCameraTest, AnUnreadableAddressFailsWith10) {
  device = makeShippedDevice("VX-S10", &handler, &logger);
  device->Connect("ftp://somewhere/");
  ASSERT_TRUE(handler.waitFor(Talvo::GDRV::DEVICE_FAILED, 1, 10s));
  EXPECT_EQ(handler.reports().back().code, 10);
}

// Arming waits for the connection (which cancels requests); a failed one is sent again on the next
// call; calls while one waits for its answer, or after it succeeded, send nothing.
TEST_F(DeviceCameraTest, ArmingIsSentAgainAfterAFailureAndOnceWhileItWaits) {
  connectCamsim("VX-S10", &handler);
  ASSERT_TRUE(handler.waitFor(Talvo::GDRV::DEVICE_CONNECTED, 1, 10s));
  const std::string path = "path=/control/control?set%26section=eventcontrol";
  camera->fault(path + "&status=500&count=1");
  camera->fault(path + "&delay_ms=300&count=1");
  device->enableArming();
  ASSERT_TRUE(logger.waitFor(" HTTP request is finished with error: ", 10s));
  EXPECT_TRUE(logger.contains(", request: Enable Arming"));
  // The state returns to "not requested" right after that line; call until the second request goes.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  do {
    device->enableArming();
  } while (!camera->waitForRequest(kArming, 2, 100ms) && std::chrono::steady_clock::now() < deadline);
  device->enableArming();  // its answer is 300 ms away
  ASSERT_TRUE(logger.waitFor(" Enable Arming finished successfully", 10s));
  device->enableArming();  // done already
  EXPECT_EQ(requestsTo(kArming), 2u);
}

TEST_F(DeviceCameraTest, LensQueryAnswersBothOnlyForTwoLensCamerasAndFalseForAnEmptyAnswer) {
  connectCamsim("VX-D20", &handler);
  EXPECT_TRUE(device->isBothLensDisplayed());
  EXPECT_EQ(requestsTo(kLensQuery), 1u);
  onCamera("/control/control?set&section=imagecontrol&camera=right");
  EXPECT_FALSE(device->isBothLensDisplayed());
  onCamera("/control/control?set&section=imagecontrol&camera=both");
  camera->fault("path=/control/control?read%26section=imagecontrol&empty=1&count=1");
  EXPECT_FALSE(device->isBothLensDisplayed());
  EXPECT_TRUE(logger.contains(" HTTP responce is empty, request: sending settings"));
}

}  // namespace
