// The microphone channel: switched on at Start, its level, audio routed by channel number, a slow
// microphone request beside running video, no frame after Stopped, two streams with one microphone.
#include <atomic>
#include <mutex>

#include "AudioTone.h"
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
  void routeOne(uint32_t channel) {
    const uint8_t payload[] = {1, 2, 3, 4, 5};
    device->routeAudio(channel, 0, payload, sizeof payload);
  }

  RecordingAudioHandler first, second;
  TestFrameFactory firstFactory, secondFactory;
};

// Start switches the microphone on once; audio is delivered only while started, counted in the
// log, and only to the first source of its channel, which stays registered when a later one goes.
TEST_F(AudioSourceTest, StartsOnceAndDeliversWhileStartedToTheFirstSourceOfItsChannel) {
  Talvo::GDRV::IAudioSource* audio = device->CreateAudioSource(&first, 0, &firstFactory);
  Talvo::GDRV::IAudioSource* newer = device->CreateAudioSource(&second, 0, &secondFactory);
  ASSERT_TRUE(audio && newer);
  routeOne(0);
  EXPECT_EQ(firstFactory.audioCount(), 0u) << "stopped: nothing is allocated";
  audio->Start();
  audio->Start();
  EXPECT_EQ(logger.count("as 0 Already started"), 1u);
  EXPECT_EQ(requestsTo("/admin/audio?setMicro=1"), 1u);
  EXPECT_TRUE(logger.contains("as 0 Started, audio enabled on device with result= 0."));
  EXPECT_EQ(first.snapshot(&RecordingAudioHandler::started), 1);
  newer->Start();
  for (int i = 0; i < 2000; ++i) routeOne(0);
  routeOne(5);  // no source for channel 5: ignored
  EXPECT_EQ(first.snapshot(&RecordingAudioHandler::frames).size(), 2000u);
  EXPECT_EQ(secondFactory.audioCount(), 0u) << "the second source of channel 0 is not registered";
  for (const std::string count : {"1", "1000", "2000"})
    EXPECT_TRUE(logger.contains("as 0 Reported " + count + " audio frames.")) << count;
  EXPECT_EQ(logger.count(" audio frames."), 3u);
  newer->Destroy();
  routeOne(0);
  EXPECT_EQ(firstFactory.audioCount(), 2001u) << "destroying the second leaves the first registered";
  audio->Destroy();
  routeOne(0);
  EXPECT_EQ(firstFactory.audioCount(), 2001u);
}

TEST_F(AudioSourceTest, VolumeSetsThePreamplifierOnTheVideoWorkersBehalf) {
  Talvo::GDRV::IAudioSource* audio = device->CreateAudioSource(&first, 0, &firstFactory);
  ASSERT_NE(audio, nullptr);
  auto* adjuster = Talvo::contract_cast<Talvo::IAsyncAdjuster>(audio);
  ASSERT_NE(adjuster, nullptr);
  RecordingActionHandler done;
  size_t applied = 0;
  for (const Set& set : {Set{{"volume", 12}}, Set{{"volume", "loud"}}}) {
    setValues(adjuster, set);
    adjuster->ApplySettings(&done);
    device->applyAudioSettings(0);  // what the video worker of channel 0 does between parts
    ASSERT_TRUE(done.waitForResults(++applied, 10s));
  }
  EXPECT_EQ(done.results(), (std::vector<int>{0, 1})) << "a volume that is no number fails";
  EXPECT_EQ(requestsTo("/control/control?set&section=audio&PREAMPLIFIER=12"), 1u);
  EXPECT_TRUE(logger.contains("as 0 std::exception: "));
  audio->Destroy();
}

// A Start waiting for the microphone request must not hold up the video worker (which hands on audio).
TEST_F(AudioSourceTest, VideoGoesOnWhileTheMicrophoneRequestWaits) {
  onCamera("/admin/audio?setMicro=1");  // already: every picture carries an audio block for the source
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

// Frames reach the host without a lock held; still none follows Stopped, whoever stops.
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

// The camera's VX-S10 entry: channel 0 has a main stream (20 pictures/s) and a sub-stream (10/s).
class TwoStreamAudioTest : public AudioSourceTest {
 protected:
  void SetUp() override { startCamera("VX-S10", "VX-S10"); }
  // What reached the host, in order: a picture of stream 0 or 1 ('0', '1'), an audio frame on
  // stream 0's thread ('m') or on stream 1's ('s') (each stream's worker delivers its own audio).
  void note(char kind) {
    const auto thread = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(eventsMutex);
    if (kind == '0') mainThread = thread;
    if (kind == '1') subThread = thread;
    if (kind == 'a') kind = thread == mainThread ? 'm' : thread == subThread ? 's' : '?';
    events += kind;
  }

  std::mutex eventsMutex;
  std::thread::id mainThread, subThread;
  std::string events;
  RecordingVideoHandler subHandler;  // outlives the device, even when a check ends the test early
};

// Both streams carry the camera's one microphone. The audio source follows stream 0, the first
// running one, every picture's block once; when stream 0 stops, stream 1 takes over from the block
// after stream 0's last, and the host's bytes are the camera's tone throughout.
TEST_F(TwoStreamAudioTest, OneStreamFeedsTheAudioAndTheNextTakesOverWhenItStops) {
  onCamera("/admin/audio?setMicro=1");
  handler.onFrame = [this](size_t) { note('0'); };
  subHandler.onFrame = [this](size_t) { note('1'); };
  first.onFrame = [this](size_t) { note('a'); };
  ASSERT_TRUE(startVideo(0, 0));
  Talvo::GDRV::IVideoSource* sub = device->CreateVideoSource(&subHandler, 0, 1, &factory);
  ASSERT_NE(sub, nullptr);
  sub->Start();
  ASSERT_TRUE(handler.waitForFrames(2, 10s) && subHandler.waitForFrames(2, 10s)) << logger.dump();
  Talvo::GDRV::IAudioSource* audio = device->CreateAudioSource(&first, 0, &firstFactory);
  ASSERT_NE(audio, nullptr);
  audio->Start();
  ASSERT_TRUE(first.waitForFrames(20, 10s));
  video->Stop();  // stream 0 sends nothing more once Stop returns
  ASSERT_TRUE(first.waitForFrames(first.snapshot(&RecordingAudioHandler::frames).size() + 10, 10s))
      << "stream 1 took over";
  sub->Stop();
  audio->Stop();
  sub->Destroy();
  EXPECT_TRUE(subHandler.waitForStopped(10s));

  // Stream 0's audio, a block after each picture, then stream 1's; the bytes are the camera's tone
  // throughout (blocks of 20 and 10 a second at 8000 samples/s, as G.711): none lost or doubled.
  std::lock_guard<std::mutex> lock(eventsMutex);
  std::string audioThreads, mainKinds;
  std::copy_if(events.begin(), events.end(), std::back_inserter(audioThreads), [](char c) { return c > '1'; });
  std::copy_if(events.begin(), events.end(), std::back_inserter(mainKinds),
               [](char c) { return c == '0' || c == 'm'; });
  const size_t mainAudio = audioThreads.find_first_not_of('m');
  ASSERT_NE(mainAudio, std::string::npos);
  EXPECT_GE(mainAudio, 20u);
  EXPECT_EQ(audioThreads.substr(mainAudio), std::string(audioThreads.size() - mainAudio, 's')) << events;
  const std::string fed = mainKinds.substr(mainKinds.find("0m"));
  EXPECT_TRUE(fed.find("00") == std::string::npos && fed.find("mm") == std::string::npos) << fed;
  std::string heard;
  for (const ReceivedFrame& frame : first.snapshot(&RecordingAudioHandler::frames))
    heard.append(frame.bytes.begin(), frame.bytes.end());
  EXPECT_EQ(heard.size(), mainAudio * 400 + (audioThreads.size() - mainAudio) * 800);
  EXPECT_TRUE(heard == camsim::ToneGenerator().nextSamples(heard.size())) << "the camera's tone, unchanged";
  EXPECT_EQ(firstFactory.lastAudioFormat + " " + std::to_string(firstFactory.lastAudioBitRate) + " " +
                std::to_string(firstFactory.lastAudioEncoding),
            "G.711 64000 0");
  for (const auto& frame : handler.snapshot(&RecordingVideoHandler::frames))
    EXPECT_EQ(frame.bytes.back(), 0xD9) << "the picture ends before the audio block";
  audio->Destroy();
}

}  // namespace
