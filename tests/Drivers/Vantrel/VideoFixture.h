// The fixtures of the video channel tests: a device of a repository model, connected to a
// scripted peer or to the camera simulator, and the host objects its channels report to; and the
// helpers every camera simulator test of the module shares. Header-only; the files that include
// it take the standard and support headers below from it.
#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "CamsimProcess.h"
#include "CapturingLogger.h"
#include "Device.h"
#include "Nuvlet/include/ModuleDriver.h"
#include "ShippedDevice.h"
#include "ShippedRepository.h"
#include "TestChannels.h"
#include "TestHost.h"
#include "host/Nuvlet/GlobalService.h"
#include "host/Nuvlet/Repository.h"

// Polls `condition` (state without a notification of its own) until it holds or `deadline` passes.
template <class Condition>
bool pollUntil(Condition condition, std::chrono::milliseconds deadline,
               std::chrono::milliseconds every = std::chrono::milliseconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(every);
  }
  return true;
}

// The simulator's user is "admin" with the password "s3cr@t", which no log line may show.
inline std::unique_ptr<CamsimProcess> startCamsim(const std::string& model, std::vector<std::string> extra = {}) {
  extra.insert(extra.begin(), {"--model", model, "--user", "admin", "--password", "s3cr@t"});
  return std::make_unique<CamsimProcess>(extra);
}
inline std::string camsimAddress(const CamsimProcess& camera, const std::string& password = "s3cr%40t") {
  return "http://admin:" + password + "@127.0.0.1:" + std::to_string(camera.httpPort()) + "/";
}

// A device of a repository model, mostly connected to the camera simulator; the log never shows
// the camera's password.
class CamsimDeviceTest : public ::testing::Test {
 protected:
  // A simulated `cameraModel` (by default `model`) and a device of `model` connected to it.
  void connectCamsim(const std::string& model, Talvo::GDRV::IDeviceHandler* deviceHandler = nullptr,
                     const std::string& cameraModel = "", const std::string& password = "s3cr%40t") {
    camera = startCamsim(cameraModel.empty() ? model : cameraModel);
    device = makeShippedDevice(model, deviceHandler, &logger);
    device->Connect(camsimAddress(*camera, password).c_str());
  }
  size_t requestsTo(const std::string& target) const { return camera->requestTargets(target).size(); }
  // A request to the camera itself, as its own user, e.g. a value changed on the camera.
  void onCamera(const std::string& target) {
    ASSERT_EQ(camera->request(target, "Authorization: Basic YWRtaW46czNjckB0\r\n").status, 200);
  }
  void TearDown() override {
    device.reset();
    for (const auto& line : logger.messages()) EXPECT_EQ(line.find("s3cr"), std::string::npos) << line;
  }

  std::shared_ptr<Talvo::Utility::GlobalService> service = Talvo::Utility::GlobalService::instance();
  CapturingLogger logger;
  std::unique_ptr<CamsimProcess> camera;
  std::unique_ptr<Vantrel::Device> device;
};

class CamsimVideoTest : public CamsimDeviceTest {
 protected:
  void startCamera(const std::string& cameraModel, const std::string& repositoryModel) {
    connectCamsim(repositoryModel, nullptr, cameraModel);
  }
  // A device of `model` at a scripted peer's `port`; `query` ends the connection text.
  void makeDevice(const std::string& model, uint16_t port, const std::string& credentials = "",
                  const std::string& query = "") {
    device = makeShippedDevice(model, nullptr, &logger);
    device->Connect(("http://" + credentials + "127.0.0.1:" + std::to_string(port) + "/" + query).c_str());
  }
  Talvo::GDRV::IVideoSource* createVideo(uint32_t channel = 0, uint32_t stream = 0) {
    video = device->CreateVideoSource(&handler, channel, stream, &factory);
    return video;
  }
  // Creates the video source and starts it; false when the device offers none.
  bool startVideo(uint32_t channel = 0, uint32_t stream = 0) {
    if (!createVideo(channel, stream)) return false;
    video->Start();
    return true;
  }
  Talvo::IAsyncAdjuster* adjuster() { return Talvo::contract_cast<Talvo::IAsyncAdjuster>(video); }
  // Applies `set` through the host's adjuster and returns the result the handler heard.
  int apply(const Set& set) {
    using namespace std::chrono_literals;
    RecordingActionHandler done;
    setValues(adjuster(), set);
    adjuster()->ApplySettings(&done);
    EXPECT_TRUE(done.waitForResults(1, 20s)) << logger.dump();
    EXPECT_EQ(done.sources(), std::vector<Talvo::IContract*>(done.results().size(), video));
    return done.results().empty() ? -1 : done.results().front();
  }
  std::vector<std::string> controlRequests() const { return camera->requestTargets("/control/control?"); }
  // The first line containing `part`; it must exist.
  CapturingLogger::Line lineWith(const std::string& part) const {
    for (const auto& line : logger.lines())
      if (line.message.find(part) != std::string::npos) return line;
    ADD_FAILURE() << "no line with '" << part << "' in\n" << logger.dump();
    return {};
  }
  // Arrival times (ms) of the camera's stream requests, oldest first.
  std::vector<long long> streamAttemptTimes() const {
    std::vector<long long> times;
    std::istringstream log(camera->get("/sim/requests"));
    for (std::string line; std::getline(log, line);) {
      if (line.empty()) continue;
      const auto entry = nlohmann::json::parse(line);
      if (entry["target"].get<std::string>().rfind("/control/faststream.jpg", 0) == 0)
        times.push_back(entry["time"].get<long long>());
    }
    return times;
  }
  std::vector<ReceivedFrame> frames() const { return handler.snapshot(&RecordingVideoHandler::frames); }
  std::vector<int> failures() const { return handler.snapshot(&RecordingVideoHandler::failures); }
  void TearDown() override {
    using namespace std::chrono_literals;
    if (video) video->Destroy();
    // Stopped arrives on another thread after Stop: the handler must outlive it.
    if (handler.snapshot(&RecordingVideoHandler::started) > 0) {
      EXPECT_TRUE(handler.waitForStopped(10s));
    }
    CamsimDeviceTest::TearDown();
  }

  RecordingVideoHandler handler;
  TestFrameFactory factory;
  Talvo::GDRV::IVideoSource* video = nullptr;
};
