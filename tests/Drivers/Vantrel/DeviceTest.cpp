// The device against the camera simulator: connection reports, arming and the lens query.
#include <chrono>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "CamsimProcess.h"
#include "ShippedDevice.h"
#include "ShippedRepository.h"
#include "CapturingLogger.h"
#include "Device.h"
#include "Nuvlet/include/ModuleDriver.h"
#include "TestHost.h"

namespace {

using namespace std::chrono_literals;
using Talvo::GDRV::DEVICE_CONNECTED;
using Talvo::GDRV::DEVICE_DISCONNECTED;
using Talvo::GDRV::DEVICE_FAILED;

const char* const kPassword = "s3cr%40t";  // "s3cr@t", percent-encoded in the connection text
const char* const kArming = "/control/control?set&section=eventcontrol&edactiv=enable";
const char* const kLensQuery = "/control/control?read&section=imagecontrol&camera";

class DeviceCameraTest : public ::testing::Test {
 protected:
  // A simulated camera of `model` and a device for it, connected with `password` unless it is null.
  void start(const std::string& model, const char* password = kPassword) {
    camera = std::make_unique<CamsimProcess>(
        std::vector<std::string>{"--model", model, "--user", "admin", "--password", "s3cr@t"});
    device = makeShippedDevice(model, &handler, &logger);
    if (password) device->Connect(address(password).c_str());
  }
  std::string address(const std::string& password = kPassword) const {
    return "http://admin:" + password + "@127.0.0.1:" + std::to_string(camera->httpPort()) + "/";
  }
  void TearDown() override {
    device.reset();
    for (const auto& line : logger.messages()) EXPECT_EQ(line.find("s3cr"), std::string::npos) << line;
  }
  size_t requestsTo(const std::string& target) const {
    size_t n = 0;
    for (const auto& t : camera->requestTargets()) n += t == target;
    return n;
  }

  CapturingLogger logger;
  RecordingDeviceHandler handler;
  std::unique_ptr<CamsimProcess> camera;
  std::unique_ptr<Vantrel::Device> device;
};

TEST_F(DeviceCameraTest, ConnectsAndDisconnects) {
  start("VX-S10");
  ASSERT_TRUE(handler.waitFor(DEVICE_CONNECTED, 1, 10s));
  device->Disconnect();
  ASSERT_TRUE(handler.waitFor(DEVICE_DISCONNECTED, 1, 10s));
  const auto reports = handler.reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].code, 0);
}

// A refused password and an address that cannot be read give the host their codes.
TEST_F(DeviceCameraTest, WrongPasswordFailsWith401AndAnUnreadableAddressWith10) {
  start("VX-S10", "wrong");
  ASSERT_TRUE(handler.waitFor(DEVICE_FAILED, 1, 10s));
  EXPECT_EQ(handler.reports().back().code, 401);
  device.reset();
  device = makeShippedDevice("VX-S10", &handler, &logger);
  device->Connect("ftp://somewhere/");
  ASSERT_TRUE(handler.waitFor(DEVICE_FAILED, 2, 10s));
  EXPECT_EQ(handler.reports().back().code, 10);
}

// Connecting cancels the device's requests: arming waits until the device is connected.
TEST_F(DeviceCameraTest, ArmingTwiceBeforeTheAnswerSendsOneRequest) {
  start("VX-S10");
  ASSERT_TRUE(handler.waitFor(DEVICE_CONNECTED, 1, 10s));
  camera->fault(std::string("path=") + "/control/control?set%26section=eventcontrol" + "&delay_ms=300&count=1");
  device->enableArming();
  device->enableArming();
  ASSERT_TRUE(logger.waitFor(" Enable Arming finished successfully", 10s));
  device->enableArming();  // done already: nothing more is sent
  EXPECT_EQ(requestsTo(kArming), 1u);
}

TEST_F(DeviceCameraTest, FailedArmingIsSentAgainOnTheNextCall) {
  start("VX-S10");
  ASSERT_TRUE(handler.waitFor(DEVICE_CONNECTED, 1, 10s));
  camera->fault(std::string("path=") + "/control/control?set%26section=eventcontrol" + "&status=500&count=1");
  device->enableArming();
  ASSERT_TRUE(logger.waitFor(" HTTP request is finished with error: ", 10s));
  EXPECT_TRUE(logger.contains(", request: Enable Arming"));
  // The state returns to "not requested" right after that line; call until the second request goes.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  do {
    device->enableArming();
  } while (!camera->waitForRequest(kArming, 2, 100ms) && std::chrono::steady_clock::now() < deadline);
  ASSERT_TRUE(logger.waitFor(" Enable Arming finished successfully", 10s));
  EXPECT_EQ(requestsTo(kArming), 2u);
}

TEST_F(DeviceCameraTest, LensQueryAnswersBothOnlyForTwoLensCamerasAndFalseForAnEmptyAnswer) {
  start("VX-D20");
  EXPECT_TRUE(device->isBothLensDisplayed());
  EXPECT_EQ(requestsTo(kLensQuery), 1u);
  camera->request("/control/control?set&section=imagecontrol&camera=right",
                  "Authorization: Basic YWRtaW46czNjckB0\r\n");
  EXPECT_FALSE(device->isBothLensDisplayed());
  camera->request("/control/control?set&section=imagecontrol&camera=both", "Authorization: Basic YWRtaW46czNjckB0\r\n");
  camera->fault(std::string("path=") + "/control/control?read%26section=imagecontrol" + "&empty=1&count=1");
  EXPECT_FALSE(device->isBothLensDisplayed());
  EXPECT_TRUE(logger.contains(" HTTP responce is empty, request: sending settings"));
}

}  // namespace
