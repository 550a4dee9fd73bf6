// The live path (server-push video and audio) and the device's connection against every fault the
// camera simulator offers. Each row: one Failed (DEVICE_FAILED) with the row's code, or none; the
// stream (connection) heals once the fault is spent; and no thread or descriptor outlives the end.
#include <filesystem>

#include "VideoFixture.h"

namespace {

using namespace std::chrono_literals;
using Talvo::GDRV::DEVICE_CONNECTED;
using Talvo::GDRV::DEVICE_DISCONNECTED;
using Talvo::GDRV::DEVICE_FAILED;

// Threads and open descriptors of this process.
std::pair<size_t, size_t> resources() {
  const auto entries = [](const char* folder) {
    const std::filesystem::directory_iterator all(folder);
    return size_t(std::distance(begin(all), end(all)));
  };
  return {entries("/proc/self/task"), entries("/proc/self/fd")};
}

// A joined thread may linger in /proc and the device's check hold a socket for a moment.
void expectBackTo(const std::pair<size_t, size_t>& before) {
  EXPECT_TRUE(pollUntil([&] { return resources().first <= before.first && resources().second <= before.second; }, 5s))
      << "threads and descriptors before: " << ::testing::PrintToString(before)
      << "; now: " << ::testing::PrintToString(resources());
}

enum class Target { Live, Device };

struct FaultRow {
  const char* name;
  Target target;
  const char* fault;   // the simulator's fault; the path is the row's target's
  int code;            // the outage's one report; 0: the fault is no outage
  const char* logged;  // a line the fault leaves in the log, or ""
};

std::ostream& operator<<(std::ostream& out, const FaultRow& row) { return out << row.name; }

class FaultMatrixTest : public CamsimVideoTest, public ::testing::WithParamInterface<FaultRow> {
 protected:
  void install(const FaultRow& row, const char* path) {
    const std::string fault = row.fault;
    // Refusing is the whole simulator's; every other fault is bound to the row's path.
    camera->fault(fault.rfind("refuse_ms=", 0) == 0 ? fault : "path=" + std::string(path) + "&" + fault);
  }
  void runLive(const FaultRow& row) {
    startCamera("VX-S10", "VX-S10");
    Talvo::GDRV::IAudioSource* audio = device->CreateAudioSource(&audioHandler, 0, &audioFactory);
    ASSERT_NE(audio, nullptr);
    audio->Start();
    ASSERT_TRUE(camera->waitForRequest("/admin/audio?setMicro=1", 1));  // before any fault
    const auto before = resources();
    ASSERT_NE(createVideo(), nullptr);
    install(row, "/control/faststream.jpg");
    video->Start();
    if (row.code != 0) {
      ASSERT_TRUE(handler.waitForFailures(1, 30s)) << logger.dump();
    }
    const size_t framesAtFault = frames().size();
    const size_t audioAtFault = audioFactory.audioCount();
    EXPECT_TRUE(handler.waitForFrames(framesAtFault + 3, 30s)) << "the stream heals\n" << logger.dump();
    EXPECT_TRUE(pollUntil([&] { return audioFactory.audioCount() >= audioAtFault + 3; }, 30s)) << "its audio too";
    video->Stop();
    audio->Stop();
    EXPECT_TRUE(handler.waitForStopped(10s));
    EXPECT_TRUE(audioHandler.waitForStopped(10s));
    EXPECT_EQ(failures(), row.code != 0 ? std::vector<int>{row.code} : std::vector<int>{});
    video->Destroy();
    video = nullptr;
    audio->Destroy();
    expectBackTo(before);
  }

  void runDevice(const FaultRow& row) {
    camera = startCamsim("VX-S10");
    device = makeShippedDevice("VX-S10", &deviceHandler, &logger);
    const auto before = resources();
    install(row, "/");
    device->Connect(camsimAddress(*camera).c_str());
    ASSERT_TRUE(deviceHandler.waitFor(DEVICE_CONNECTED, 1, 20s)) << "retried after 1 and 2 seconds\n" << logger.dump();
    std::vector<std::pair<int, int>> reports;  // state, code
    for (const auto& report : deviceHandler.reports()) reports.emplace_back(report.state, report.code);
    EXPECT_EQ(reports.back().first, DEVICE_CONNECTED);
    reports.pop_back();
    EXPECT_EQ(reports, (row.code != 0 ? decltype(reports){{DEVICE_FAILED, row.code}} : decltype(reports){}))
        << "one failure report for the whole outage";
    device->Disconnect();
    ASSERT_TRUE(deviceHandler.waitFor(DEVICE_DISCONNECTED, 1, 10s));
    expectBackTo(before);
  }

  RecordingAudioHandler audioHandler;
  TestFrameFactory audioFactory;
  RecordingDeviceHandler deviceHandler;
};

TEST_P(FaultMatrixTest, OneReportPerOutageThenHealsWithoutLeaks) {
  const FaultRow& row = GetParam();
  row.target == Target::Live ? runLive(row) : runDevice(row);
  EXPECT_TRUE(!*row.logged || logger.contains(row.logged)) << logger.dump();
}

// Short outages: three quick attempts, or one waiting for the 5 s silence guard. A part beyond the
// reader's cap ends with Asio's not_found (2). Stalls are the live rows' (the device waits 10 s).
INSTANTIATE_TEST_SUITE_P(
    Live, FaultMatrixTest,
    ::testing::Values(FaultRow{"refused", Target::Live, "refuse_ms=1200", 111, ""},
                      FaultRow{"unauthorized", Target::Live, "status=401&count=2", 401, ""},
                      FaultRow{"server_error", Target::Live, "status=500&count=3", 500, ""},
                      FaultRow{"empty", Target::Live, "empty=1&count=3", 104, ""},
                      FaultRow{"close", Target::Live, "close=1&count=3", 104, ""},
                      FaultRow{"stall", Target::Live, "stall_after_head=1&count=1", 110, ""},
                      FaultRow{"garbage", Target::Live, "garbage=1&count=3", 256, ""},
                      FaultRow{"drop", Target::Live, "drop_after_parts=3&count=1", 104, ""},
                      FaultRow{"drop_mid_part", Target::Live, "drop_mid_part=3&count=1", 104, ""},
                      FaultRow{"slow_trickle", Target::Live, "trickle_bytes=4000&count=1", 0, ""},
                      FaultRow{"no_end_of_image", Target::Live, "no_eoi=2&count=1", 0, " Skip incorrect frame"},
                      FaultRow{"endless_part", Target::Live, "endless_part=2&count=1", 2, " Error stream receiving: "}),
    [](const ::testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Device, FaultMatrixTest,
                         ::testing::Values(FaultRow{"refused", Target::Device, "refuse_ms=2500", 111, ""},
                                           FaultRow{"unauthorized", Target::Device, "status=401&count=2", 401, ""},
                                           FaultRow{"server_error", Target::Device, "status=500&count=2", 0, ""},
                                           FaultRow{"empty", Target::Device, "empty=1&count=2", 0, ""},
                                           FaultRow{"close", Target::Device, "close=1&count=2", 256, ""},
                                           FaultRow{"garbage", Target::Device, "garbage=1&count=2", 256, ""}),
                         [](const ::testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

}  // namespace
