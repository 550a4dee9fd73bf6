// The microphone channel: switched on at Start, its level set through the settings, audio routed
// to it by channel number through the device, and the registration rules of the device's map;
// a slow microphone request never holds up the channel's video, and no frame follows Stopped.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "VideoFixture.h"

namespace {

using namespace std::chrono_literals;

class AudioSourceTest : public CamsimVideoTest {
 protected:
  void SetUp() override { startCamera("VX-S10", "generic"); }
  void TearDown() override {
    for (auto* handler : {&first, &second})
      if (handler->snapshot(&RecordingAudioHandler::started) > 0) {
        EXPECT_TRUE(handler->waitForStopped(10s));
      }
    CamsimVideoTest::TearDown();
  }
  size_t requestsTo(const std::string& target) const {
    const auto targets = camera->requestTargets();
    return std::count(targets.begin(), targets.end(), target);
  }
  void routeOne(uint32_t channel) {
    const uint8_t payload[] = {1, 2, 3, 4, 5};
    device->routeAudio(channel, payload, sizeof payload);
  }

  RecordingAudioHandler first, second;
  TestFrameFactory firstFactory, secondFactory;
};

TEST_F(AudioSourceTest, StartSwitchesTheMicrophoneOnOnce) {
  Talvo::GDRV::IAudioSource* audio = device->CreateAudioSource(&first, 0, &firstFactory);
  ASSERT_NE(audio, nullptr);
  audio->Start();
  audio->Start();
  EXPECT_EQ(logger.count("as 0 Already started"), 1u);
  EXPECT_EQ(requestsTo("/admin/audio?setMicro=1"), 1u);
  EXPECT_TRUE(logger.contains("as 0 Started, audio enabled on device with result= 0."));
  EXPECT_EQ(first.snapshot(&RecordingAudioHandler::started), 1);
  audio->Destroy();
}

TEST_F(AudioSourceTest, VolumeSetsThePreamplifierOnTheVideoWorkersBehalf) {
  Talvo::GDRV::IAudioSource* audio = device->CreateAudioSource(&first, 0, &firstFactory);
  ASSERT_NE(audio, nullptr);
  auto* adjuster = Talvo::contract_cast<Talvo::IAsyncAdjuster>(audio);
  ASSERT_NE(adjuster, nullptr);
  RecordingActionHandler done;
  adjuster->SetValue("volume", 12);
  adjuster->ApplySettings(&done);
  device->applyAudioSettings(0);  // what the video worker of channel 0 does between parts
  ASSERT_TRUE(done.waitForResults(1, 10s));
  EXPECT_EQ(done.results(), std::vector<int>{0});
  EXPECT_EQ(requestsTo("/control/control?set&section=audio&PREAMPLIFIER=12"), 1u);

  adjuster->SetValue("volume", "loud");
  adjuster->ApplySettings(&done);
  device->applyAudioSettings(0);
  ASSERT_TRUE(done.waitForResults(2, 10s));
  EXPECT_EQ(done.results().back(), 1) << "a volume that is no number";
  EXPECT_TRUE(logger.contains("as 0 std::exception: "));
  audio->Destroy();
}

TEST_F(AudioSourceTest, AudioIsDeliveredOnlyWhileStartedAndCountedInTheLog) {
  Talvo::GDRV::IAudioSource* audio = device->CreateAudioSource(&first, 0, &firstFactory);
  ASSERT_NE(audio, nullptr);
  routeOne(0);
  EXPECT_EQ(firstFactory.audioCount(), 0u) << "stopped: nothing is allocated";
  audio->Start();
  for (int i = 0; i < 2000; ++i) routeOne(0);
  routeOne(5);  // no source for channel 5: ignored
  EXPECT_EQ(firstFactory.audioCount(), 2000u);
  EXPECT_EQ(first.snapshot(&RecordingAudioHandler::frames).size(), 2000u);
  EXPECT_TRUE(logger.contains("as 0 Reported 1 audio frames."));
  EXPECT_TRUE(logger.contains("as 0 Reported 1000 audio frames."));
  EXPECT_TRUE(logger.contains("as 0 Reported 2000 audio frames."));
  EXPECT_EQ(logger.count(" audio frames."), 3u);
  audio->Destroy();
}

TEST_F(AudioSourceTest, TheFirstSourceOfAChannelStaysRegistered) {
  Talvo::GDRV::IAudioSource* older = device->CreateAudioSource(&first, 0, &firstFactory);
  Talvo::GDRV::IAudioSource* newer = device->CreateAudioSource(&second, 0, &secondFactory);
  ASSERT_NE(older, nullptr);
  ASSERT_NE(newer, nullptr);
  older->Start();
  newer->Start();
  routeOne(0);
  EXPECT_EQ(firstFactory.audioCount(), 1u);
  EXPECT_EQ(secondFactory.audioCount(), 0u) << "the second source of channel 0 is not registered";
  newer->Destroy();
  routeOne(0);
  EXPECT_EQ(firstFactory.audioCount(), 2u) << "destroying the second leaves the first registered";
  older->Destroy();
  routeOne(0);
  EXPECT_EQ(firstFactory.audioCount(), 2u);
}

// The video worker hands every audio block to the source: a Start waiting for the camera's
// answer to the microphone request must not hold it up.
TEST_F(AudioSourceTest, VideoGoesOnWhileTheMicrophoneRequestWaits) {
  // The microphone is on already, so every picture carries an audio block for the source.
  ASSERT_EQ(camera->request("/admin/audio?setMicro=1", "Authorization: Basic YWRtaW46czNjckB0\r\n").status, 200);
  Talvo::GDRV::IAudioSource* audio = device->CreateAudioSource(&first, 0, &firstFactory);
  ASSERT_NE(audio, nullptr);
  ASSERT_TRUE(startVideo());
  ASSERT_TRUE(handler.waitForFrames(1, 10s)) << logger.dump();
  camera->fault("path=/admin/audio&count=1&delay_ms=4000");
  std::atomic<bool> startReturned{false};
  std::thread starter([&] {
    audio->Start();
    startReturned = true;
  });
  const bool requestWaits = camera->waitForRequest("/admin/audio?setMicro=1", 2);
  const bool videoMoved = handler.waitForFrames(frames().size() + 3, 10s);  // a frozen stream sends none
  const bool beforeTheAnswer = !startReturned;
  starter.join();
  EXPECT_TRUE(requestWaits);
  EXPECT_TRUE(videoMoved && beforeTheAnswer) << "pictures kept coming while the camera held the microphone request";
  ASSERT_TRUE(first.waitForFrames(1, 10s)) << "audio follows once started";
  audio->Destroy();
}

// Frames reach the host without a lock held; a Stop from another thread or from inside a frame
// still leaves nothing to arrive after Stopped.
TEST_F(AudioSourceTest, NoFrameFollowsStoppedWhoeverStops) {
  for (const bool stopFromFrame : {false, true}) {
    SCOPED_TRACE(stopFromFrame ? "stopped from inside a frame" : "stopped from another thread");
    RecordingAudioHandler strict;
    TestFrameFactory strictFactory;
    const uint32_t channel = stopFromFrame ? 2 : 1;
    Talvo::GDRV::IAudioSource* audio = device->CreateAudioSource(&strict, channel, &strictFactory);
    ASSERT_NE(audio, nullptr);
    if (stopFromFrame) strict.onFrame = [audio](size_t) { audio->Stop(); };
    audio->Start();
    std::atomic<bool> routing{true};
    std::thread worker([&] {
      while (routing) routeOne(channel);
    });
    ASSERT_TRUE(strict.waitForFrames(1, 10s));
    if (!stopFromFrame) audio->Stop();
    ASSERT_TRUE(strict.waitForStopped(10s));
    routing = false;
    worker.join();
    EXPECT_EQ(strict.snapshot(&RecordingAudioHandler::afterStopped), 0);
    audio->Destroy();
  }
}

}  // namespace
