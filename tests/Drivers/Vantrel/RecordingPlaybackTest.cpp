// Playing the camera's recordings against the simulator's timeline (three sequences of three
// pictures, a second apart) and against scripted peers that answer chunked, stall or never end.
#include "RecordingPlayback.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <boost/format.hpp>
#include <gtest/gtest.h>

#include "CamsimProcess.h"
#include "CapturingLogger.h"
#include "Device.h"
#include "RawPeer.h"
#include "Recorder.h"
#include "ShippedDevice.h"
#include "TestChannels.h"
#include "host/Nuvlet/GlobalService.h"

namespace {

using namespace std::chrono_literals;

const std::string kStream = "/control/event.jpg?output=zlg";
const std::string kShortAnswer = "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n";

struct PlayedFrame {
  std::string track;
  std::string codec;  // video only
  bool key;
  uint64_t time;
  size_t size;
};

class PlaybackHandler : public Talvo::GDRV::IRecordingPlaybackHandler, public Recorder {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char*) override { return nullptr; }
  void Failed(Talvo::GDRV::IRecordingPlayback*, int32_t code) override { end("failed " + std::to_string(code)); }
  void Finished(Talvo::GDRV::IRecordingPlayback*, int32_t code) override { end("finished " + std::to_string(code)); }
  void MultimediaFrame(Talvo::GDRV::IRecordingPlayback*, const char* trackId,
                       Talvo::MFF::IMultimediaBuffer* buffer) override {
    PlayedFrame frame{trackId, "", false, buffer->GetTimeStamp(), buffer->GetSize()};
    if (auto* video = Talvo::contract_cast<Talvo::MFF::ICompressedBuffer>(buffer)) {
      frame.codec = video->GetCodecName();
      frame.key = video->IsKeyFrame();
    }
    buffer->Destroy();
    record([&] { frames_.push_back(frame); });
  }

  std::vector<PlayedFrame> frames(const std::string& track) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<PlayedFrame> of;
    for (const auto& f : frames_)
      if (f.track == track) of.push_back(f);
    return of;
  }
  bool waitForFrames(size_t count) const {
    return waitUntil([&] { return frames_.size() >= count; }, 10s);
  }
  // The end reports so far ("" when none came in time); only one may come.
  std::string waitForEnd() const {
    waitUntil([&] { return !ends_.empty(); }, 10s);
    return ends();
  }
  std::string ends() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ends_;
  }

 private:
  void end(std::string text) {
    record([&] { ends_ += ends_.empty() ? text : "; " + text; });
  }
  std::vector<PlayedFrame> frames_;
  std::string ends_;
};

class RecordingPlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    camera.get("/sim/recordings?count=3&length=3&gap=1&start=1500000000&pictures=3");
    connect(camera.httpPort());
  }
  void TearDown() override {
    if (playback) playback->Destroy();
    device.reset();
  }
  void connect(uint16_t port, PlaybackHandler* played = nullptr) {
    device = makeShippedDevice("VX-S10", nullptr, &logger);
    device->Connect(("http://127.0.0.1:" + std::to_string(port) + "/").c_str());
    playback = device->CreateRecordingPlayback("0", &factory, nullptr, played ? played : &handler);
  }
  void timeline(const std::string& query) {
    camera.get("/sim/recordings?" + query);
    camera.clearRequests();
  }
  // Waits for the action's first result: -1 when none came in time.
  static int resultOf(const RecordingActionHandler& action) {
    if (!action.waitForResults(1, 10s)) return -1;
    return action.results().front();
  }
  std::vector<std::string> streamRequests() const { return camera.requestTargets(kStream); }
  // The camera's first sequence as it sends it.
  std::string firstSequence() const { return camera.request(kStream + "&searchbytime_start=1500000000").body; }

  std::shared_ptr<Talvo::Utility::GlobalService> service = Talvo::Utility::GlobalService::instance();
  CamsimProcess camera;
  CapturingLogger logger;
  TestFrameFactory factory;
  PlaybackHandler handler;
  std::unique_ptr<Vantrel::Device> device;
  Talvo::GDRV::IRecordingPlayback* playback = nullptr;
};

TEST_F(RecordingPlaybackTest, ASeekAsksForItsWholeSecondAndGivesThatPicture) {
  struct Case {
    uint64_t to;
    std::string request;
    uint64_t frameTime;
  };
  for (const Case& c :
       {Case{999, "/control/event.jpg?output=jpeg&searchbytime_start=1", 1500000000500},
        Case{1500000005200, "/control/event.jpg?output=jpeg&searchbytime_start=1500000005", 1500000004500}}) {
    camera.clearRequests();
    RecordingActionHandler seek;
    const size_t before = handler.frames("video").size();
    playback->Seek(c.to, &seek);
    EXPECT_EQ(resultOf(seek), 0) << c.to;
    const auto frames = handler.frames("video");
    ASSERT_EQ(frames.size(), before + 1) << c.to;
    EXPECT_EQ(frames.back().codec, "MJPEG");
    EXPECT_TRUE(frames.back().key);
    EXPECT_EQ(frames.back().time, c.frameTime);
    EXPECT_EQ(camera.requestTargets("/control/event.jpg"), std::vector<std::string>{c.request});
  }
  EXPECT_TRUE(logger.contains(" Image '1000' is received"));
}

TEST_F(RecordingPlaybackTest, APlayGoesFromSequenceToSequenceUntilTheCameraHasNoMore) {
  RecordingActionHandler seek, play;
  playback->Seek(1500000000000, &seek);
  ASSERT_EQ(resultOf(seek), 0);
  playback->Play(&play, 2.0);
  EXPECT_EQ(resultOf(play), 0);
  EXPECT_EQ(handler.waitForEnd(), "finished 104") << "the camera sends nothing after the last sequence";

  const auto video = handler.frames("video");
  ASSERT_EQ(video.size(), 1u + 9u);  // the seek picture, then three sequences of three
  EXPECT_EQ(video[1].codec, "Zelta");
  EXPECT_TRUE(video[1].key);
  const std::vector<uint64_t> expected = {1500000000500, 1500000001500, 1500000002500, 1500000004500, 1500000005500,
                                          1500000006500, 1500000008500, 1500000009500, 1500000010500};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(video[i + 1].time, expected[i]) << i;
  const auto audio = handler.frames("audio");
  ASSERT_EQ(audio.size(), 9u);
  EXPECT_EQ(audio[0].size, 800u);
  EXPECT_EQ(audio[0].time, 1500000000500u);
  EXPECT_EQ(streamRequests(),
            (std::vector<std::string>{kStream + "&searchbytime_start=1500000000", kStream + "&sequence=1000&offset=1",
                                      kStream + "&sequence=1001&offset=1", kStream + "&sequence=1002&offset=1"}));
  EXPECT_TRUE(logger.contains(" not supported speed > 1"));
  EXPECT_TRUE(logger.contains(
      " part of 1001[2017-07-14T02:40:04.500Z,2017-07-14T02:40:06.500Z], <1,3> = 3, 3 frames are expected"))
      << logger.dump();
  EXPECT_TRUE(logger.contains(" Video fragment '1002' is finished\n\tvideo:3 received, "));
  EXPECT_TRUE(logger.contains(" No stream was received"));
}

// A play while the seek picture is awaited, and a seek while playing, get 9; a pause is answered
// once the request ended, and the next play goes on near where it stopped. After Terminate
// nothing is reported and every operation gets 12 (a step, never supported, 8).
TEST_F(RecordingPlaybackTest, WhatARunningPlaybackRefusesGets9AndAfterTerminateEverythingGets12) {
  timeline("pace=150");
  RecordingActionHandler firstSeek, early, play, seek, pause, again, seekAfter, step;
  playback->Seek(1500000000000, &firstSeek);
  playback->Play(&early, 1.0);
  EXPECT_EQ(resultOf(early), 9);
  EXPECT_EQ(resultOf(firstSeek), 0);
  EXPECT_TRUE(logger.contains(" not supported second play call or play before seek is fully finished"));
  EXPECT_TRUE(streamRequests().empty());

  playback->Play(&play, 1.0);
  ASSERT_EQ(resultOf(play), 0);
  ASSERT_TRUE(handler.waitForFrames(2));
  playback->Seek(1500000000000, &seek);
  EXPECT_EQ(resultOf(seek), 9);
  EXPECT_TRUE(logger.contains(" not supported seek during play"));
  playback->Play(&pause, 0);
  EXPECT_EQ(resultOf(pause), 0);
  const size_t paused = handler.frames("video").size() + handler.frames("audio").size();
  const uint64_t pausedAt = handler.frames("video").back().time / 1000;
  EXPECT_TRUE(logger.contains(" Playback was stopped")) << "answered only once the request ended";
  EXPECT_EQ(streamRequests().size(), 1u);

  playback->Play(&again, 1.0);
  EXPECT_EQ(resultOf(again), 0);
  ASSERT_TRUE(handler.waitForFrames(paused + 1));
  ASSERT_TRUE(camera.waitForRequest(kStream, 2, 10s));
  EXPECT_EQ(streamRequests()[1], kStream + "&searchbytime_start=" + std::to_string(pausedAt));
  playback->Terminate();
  playback->Terminate();
  playback->Seek(1500000000000, &seekAfter);
  EXPECT_EQ(resultOf(seekAfter), 12);
  EXPECT_TRUE(logger.waitFor(" Already terminated", 5s));
  playback->Step(&step, true);
  EXPECT_EQ(resultOf(step), 8);
  const size_t frames = handler.frames("video").size() + handler.frames("audio").size();
  playback->Destroy();
  playback = nullptr;
  EXPECT_EQ(handler.frames("video").size() + handler.frames("audio").size(), frames);
  EXPECT_EQ(handler.ends(), "");
}

TEST_F(RecordingPlaybackTest, AStreamThatBeginsWithDeltaPicturesShowsNothingUntilAKeyPicture) {
  timeline("count=1&pictures=4&deltafirst=1&audio=0");
  RecordingActionHandler play;
  playback->Play(&play, 1.0);
  EXPECT_EQ(handler.waitForEnd(), "finished 104");
  const auto video = handler.frames("video");
  ASSERT_EQ(video.size(), 2u);
  EXPECT_TRUE(video[0].key);
  EXPECT_EQ(video[0].time, 1500000002000u);
  EXPECT_FALSE(video[1].key);
}

// Scripted cameras, each playing the first sequence with audio blocks naming a sample rate of 2^28
// (its bit rate does not fit the host's int and becomes the largest one, not what the overflow
// gives): a plain answer; a chunked one that keeps the connection (the pictures are the chunks'
// data, the last chunk ends the sequence so the next is asked for); a camera that falls silent
// before its answer or within the stream (the play fails once the silence guard has passed, not
// after the hour the stream may take); a picture that never ends (cut at the cap).
TEST_F(RecordingPlaybackTest, ScriptedCamerasPlainChunkedStallingOrEndless) {
  std::string sequence = firstSequence();
  size_t patched = 0;
  for (size_t at = sequence.find("\xFF\xED"); at != std::string::npos && at + 12 <= sequence.size();
       at = sequence.find("\xFF\xED", at + 2)) {
    const std::string tag = sequence.substr(at + 4, 4);
    if (tag != "ULAW" && tag != "ALAW" && tag != "L16 ") continue;
    sequence.replace(at + 8, 4, std::string("\x10\x00\x00\x00", 4));
    ++patched;
  }
  ASSERT_GE(patched, 3u);
  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (size_t at = 0; at < sequence.size(); at += 1000)
    chunked += (boost::format("%x\r\n") % sequence.substr(at, 1000).size()).str() + sequence.substr(at, 1000) + "\r\n";
  const std::string plain = "HTTP/1.0 200 OK\r\n\r\n";
  struct Case {
    const char* what;
    std::string answer;  // to the first request
    bool stall;          // then silence, else the connection closes
    size_t maxBlock;     // 0: the product's picture cap
    const char* end;
    size_t pictures;
  };
  const Case cases[] = {
      {"plain", plain + sequence, false, 0, "finished 104", 3},
      {"chunked", chunked + "0\r\n\r\n", true, 0, "finished 104", 3},
      {"silent before the answer", "", true, 0, "failed 110", 0},
      {"silent within the stream", plain + sequence, true, 0, "failed 110", 3},
      {"a picture that never ends", plain + std::string(300, '\x11') + "\xFF\xD8\xFF\xE0" + std::string(200000, '\x55'),
       true, 64 * 1024, "failed 264", 0},
  };
  std::vector<std::vector<size_t>> sizes;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawPeer peer([&](const std::string& request) {
      if (request.find("output=zlg&searchbytime_start=") == std::string::npos)
        return std::vector<RawPeer::Step>{RawPeer::send(kShortAnswer)};
      if (!c.stall) return std::vector<RawPeer::Step>{RawPeer::send(c.answer)};
      return std::vector<RawPeer::Step>{RawPeer::send(c.answer), RawPeer::stall()};
    });
    PlaybackHandler played;
    if (playback) playback->Destroy();
    connect(peer.port(), &played);
    const bool fails = std::string(c.end).rfind("failed", 0) == 0;
    static_cast<Vantrel::RecordingPlayback*>(playback)->setSilenceGuard(fails ? 300 : 5000);
    if (c.maxBlock) static_cast<Vantrel::RecordingPlayback*>(playback)->setMaxBlockSize(c.maxBlock);
    playback->Play(nullptr, 1.0);
    EXPECT_EQ(played.waitForEnd(), c.end) << logger.dump();
    auto& row = sizes.emplace_back();
    for (const PlayedFrame& frame : played.frames("video")) row.push_back(frame.size);
    EXPECT_EQ(row.size(), c.pictures);
    playback->Destroy();
    playback = nullptr;
  }
  EXPECT_EQ(sizes[1], sizes[0]) << "no chunk line reaches the pictures";
  EXPECT_GE(factory.audioCount(), 6u);
  EXPECT_EQ(factory.lastAudioBitRate, 2147483647);
  EXPECT_TRUE(logger.contains(" Next url='" + kStream + "&sequence=1000&offset=1'"));
  EXPECT_EQ(logger.count(" Stop playing, because of 110."), 2u) << logger.dump();
  EXPECT_TRUE(logger.contains(" Stop playing, because of 264."));
  const auto lines = logger.messages();
  EXPECT_EQ(logger.count(" TRACE: Drop "), 1u) << logger.dump();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), " TRACE: Drop 300 bytes: " + std::string(128, '1') + "..."), 1)
      << "at most 64 bytes are shown";
}

}  // namespace
