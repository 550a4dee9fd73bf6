// PTZ against the camera simulator: the limits of the model's telemetry entry, the exact
// click.cgi requests, and operations that never reach the camera.
#include "TelemetryChannel.h"

#include <cmath>
#include <functional>
#include <limits>

#include "VideoFixture.h"

namespace {

using Talvo::GDRV::ITelemetry;
using Call = std::function<int32_t(ITelemetry&)>;

Talvo::GDRV::ITelemetryPointClick& clicks(ITelemetry& t) {
  return *Talvo::contract_cast<Talvo::GDRV::ITelemetryPointClick>(static_cast<Talvo::GDRV::IDeviceChannel*>(&t));
}
Call moveBy(int32_t pan, int32_t panSpeed, int32_t tilt, int32_t tiltSpeed) {
  return [=](ITelemetry& t) { return t.RelativeMove(pan, panSpeed, tilt, tiltSpeed); };
}
Call zoom(int32_t step, int32_t speed) {
  return [=](ITelemetry& t) { return t.RelativeZoom(step, speed); };
}
Call point(double x, double y) {
  return [=](ITelemetry& t) { return clicks(t).PointMove({x, y}); };
}
Call area(double x, double y, double width, double height) {
  return [=](ITelemetry& t) { return clicks(t).AreaZoom({x, y, width, height}); };
}

struct PtzCase {
  const char* label;
  Call call;
  int32_t code;
  const char* request;  // the click.cgi request sent, or null for none
};

class TelemetryTest : public CamsimDeviceTest {
 protected:
  void start(const std::string& model) {
    connectCamsim(model, nullptr, "VX-S10");
    telemetry = device->CreateTelemetry(0);
    ASSERT_NE(telemetry, nullptr);
  }
  // Runs every case and checks its code, then the camera's click requests in order.
  void check(const std::vector<PtzCase>& cases) {
    std::vector<std::string> expected;
    for (const PtzCase& c : cases) {
      EXPECT_EQ(c.call(*telemetry), c.code) << c.label;
      if (c.request) expected.push_back(std::string("/control/click.cgi?") + c.request);
    }
    EXPECT_EQ(camera->requestTargets("/control/click.cgi"), expected);
  }
  void TearDown() override {
    if (telemetry) telemetry->Destroy();
    CamsimDeviceTest::TearDown();
  }

  ITelemetry* telemetry = nullptr;
};

// VX-P50: steps 10 (pan, tilt) and 5 (zoom), speeds 100 and 10, 64 presets, angle moves, point
// and area; a camera failure is the result.
TEST_F(TelemetryTest, LimitsRequestsAndArithmeticOfAFullModel) {
  start("VX-P50");
  check({
      {"move at the limits", moveBy(10, 100, -10, 100), 0, "moverel&h=10&v=-10"},
      {"pan above", moveBy(11, 1, 0, 1), 6, nullptr},
      {"tilt below", moveBy(0, 1, -11, 1), 6, nullptr},
      {"pan speed above", moveBy(0, 101, 0, 1), 6, nullptr},
      {"tilt speed above", moveBy(0, 1, 0, 101), 6, nullptr},
      {"most negative pan", moveBy(std::numeric_limits<int32_t>::min(), 1, 0, 1), 6, nullptr},
      {"zoom at the limits", zoom(-5, 10), 0, "zoomrel=-5"},
      {"zoom above", zoom(6, 1), 6, nullptr},
      {"zoom speed above", zoom(1, 11), 6, nullptr},
      {"last preset", [](ITelemetry& t) { return t.GoPreset(63); }, 0, "loadview=63"},
      {"store first preset", [](ITelemetry& t) { return t.SetPreset(0); }, 0, "setview=0"},
      {"preset count", [](ITelemetry& t) { return t.GoPreset(64); }, 6, nullptr},
      {"negative preset", [](ITelemetry& t) { return t.SetPreset(-1); }, 6, nullptr},
      {"point at the centre", point(0.5, 0.5), 0, "x=250&y=125"},
      {"point not a number", point(std::nan(""), 0.5), 6, nullptr},
      {"whole picture", area(0, 0, 1, 1), 0, "rect=0,0,1279,959"},
      {"middle quarter", area(0.25, 0.25, 0.5, 0.5), 0, "rect=319,239,958,719"},
      {"area too large", area(1e300, 0, 1, 1), 6, nullptr},
      {"continuous move", [](ITelemetry& t) { return t.ContinuousMove(1, 1); }, 8, nullptr},
      {"stop", [](ITelemetry& t) { return t.StopMove(); }, 8, nullptr},
      {"home", [](ITelemetry& t) { return t.GoHome(); }, 8, nullptr},
      {"preset name", [](ITelemetry& t) { return t.SetPresetName(1, "door"); }, 8, nullptr},
      {"camera failure",
       [&](ITelemetry& t) { return camera->fault("path=/control/click.cgi&status=500&count=1"), t.GoPreset(1); }, 500,
       "loadview=1"},
      {"after it", [](ITelemetry& t) { return t.GoPreset(1); }, 0, "loadview=1"},
  });
  EXPECT_EQ(telemetry->GetPresetCount(), 64);
}

// VX-D20: supportsAngleMove 2, no point or area.
TEST_F(TelemetryTest, ModelWithoutAngleMovesPointOrArea) {
  start("VX-D20");
  check({{"move", moveBy(3, 1, 4, 1), 0, "moverel&x=3&y=4"},
         {"point", point(0.5, 0.5), 8, nullptr},
         {"area", area(0, 0, 1, 1), 8, nullptr}});
}

TEST(TelemetryChannelModels, WithoutPresetCountEveryPresetIsRefusedAndOnlyListedChannelsExist) {
  CapturingLogger logger;
  const auto info = loadShippedRepository();
  Talvo::GDRV::ModelEntry entry = *Talvo::Utility::findModelEntry(*info, "Vantrel", "VX-P50", "");
  auto& parameters = entry.telemetries.at(0).parameters;
  parameters.erase(
      std::remove_if(parameters.begin(), parameters.end(), [](const auto& p) { return p->name() == "presetCount"; }),
      parameters.end());
  Vantrel::Device device(nullptr, entry, "VX-P50", "", info, boost::make_shared<Vantrel::DeviceData>(), &logger);
  ITelemetry* telemetry = device.CreateTelemetry(0);
  ASSERT_NE(telemetry, nullptr);
  EXPECT_EQ(telemetry->GoPreset(0), 6);
  EXPECT_EQ(telemetry->SetPreset(0), 6);
  telemetry->Destroy();
  EXPECT_EQ(device.CreateTelemetry(1), nullptr);
  EXPECT_EQ(makeShippedDevice("VX-S10", nullptr, &logger)->CreateTelemetry(0), nullptr);
}

}  // namespace
