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
const std::string kShortAnswer = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nOK";

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
    std::copy_if(frames_.begin(), frames_.end(), std::back_inserter(of),
                 [&](const auto& f) { return f.track == track; });
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
  // Plays against `peer`, reporting to `played`; `maxBlock` 0 keeps the product's picture cap.
  void playAgainst(RawPeer& peer, PlaybackHandler& played, int silenceMilliseconds = 5000, size_t maxBlock = 0) {
    if (playback) playback->Destroy();
    connect(peer.port(), &played);
    static_cast<Vantrel::RecordingPlayback*>(playback)->setSilenceGuard(silenceMilliseconds);
    if (maxBlock) static_cast<Vantrel::RecordingPlayback*>(playback)->setMaxBlockSize(maxBlock);
    playback->Play(nullptr, 1.0);
  }
  // The camera's first sequence as it sends it, and what the reader takes from it.
  std::string firstSequence() const { return camera.request(kStream + "&searchbytime_start=1500000000").body; }
  std::vector<size_t> pictureSizes(const std::string& bytes) const {
    struct Sizes : Vantrel::PlaybackSink {
      void videoFrame(const uint8_t*, size_t size, bool, uint64_t) override { sizes.push_back(size); }
      void audioFrame(const uint8_t*, size_t, const Vantrel::PlaybackAudioFormat&, uint64_t) override {}
      std::vector<size_t> sizes;
    } sink;
    Vantrel::HttpConnector reader(Vantrel::HttpConnector::Kind::Stream,
                                  Talvo::LoggerOwner(static_cast<Talvo::ILogger*>(nullptr), ""), &sink, true, true);
    reader.process(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return sink.sizes;
  }
  std::vector<size_t> playedSizes() const {
    std::vector<size_t> sizes;
    for (const PlayedFrame& frame : handler.frames("video")) sizes.push_back(frame.size);
    return sizes;
  }

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
// once the request ended, and the next play goes on near where it stopped.
TEST_F(RecordingPlaybackTest, WhatARunningPlaybackRefusesGets9AndAPauseIsAnsweredWhenTheRequestEnded) {
  timeline("pace=150");
  RecordingActionHandler firstSeek, early, play, seek, pause, again;
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
  const uint64_t pausedAt = handler.frames("video").back().time / 1000;
  EXPECT_TRUE(logger.contains(" Playback was stopped")) << "answered only once the request ended";
  EXPECT_EQ(streamRequests().size(), 1u);
  EXPECT_EQ(handler.ends(), "");

  playback->Play(&again, 1.0);
  EXPECT_EQ(resultOf(again), 0);
  EXPECT_EQ(handler.waitForEnd(), "finished 104");
  EXPECT_EQ(streamRequests()[1], kStream + "&searchbytime_start=" + std::to_string(pausedAt));
}

TEST_F(RecordingPlaybackTest, AfterTerminateNothingIsReportedAndEveryOperationGets12) {
  timeline("pace=150");
  RecordingActionHandler play, seek, step;
  playback->Play(&play, 1.0);
  ASSERT_TRUE(handler.waitForFrames(1));
  playback->Terminate();
  playback->Terminate();
  playback->Seek(1500000000000, &seek);
  EXPECT_EQ(resultOf(seek), 12);
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

// A camera (or a proxy) that answers chunked and keeps the connection: the pictures are the
// chunks' data, and the last chunk ends the sequence, so that the next one is asked for.
TEST_F(RecordingPlaybackTest, AChunkedAnswerGivesWholePicturesAndItsLastChunkEndsTheSequence) {
  const std::string sequence = firstSequence();
  const std::vector<size_t> expected = pictureSizes(sequence);
  ASSERT_EQ(expected.size(), 3u);
  std::string chunked;
  for (size_t at = 0; at < sequence.size(); at += 1000) {
    const std::string piece = sequence.substr(at, 1000);
    chunked += (boost::format("%x\r\n") % piece.size()).str() + piece + "\r\n";
  }
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  RawPeer peer([&](const std::string& request) {
    if (request.find("output=zlg&searchbytime_start=") != std::string::npos)
      return std::vector<RawPeer::Step>{RawPeer::send(head + chunked + "0\r\n\r\n"), RawPeer::stall()};
    if (request.find("output=zlg&sequence=1000&offset=1 ") != std::string::npos)
      return std::vector<RawPeer::Step>{RawPeer::send(head + "0\r\n\r\n"), RawPeer::stall()};
    return std::vector<RawPeer::Step>{RawPeer::send(kShortAnswer)};
  });
  playAgainst(peer, handler);
  EXPECT_EQ(handler.waitForEnd(), "finished 104") << logger.dump();
  EXPECT_EQ(playedSizes(), expected);
  EXPECT_EQ(handler.frames("audio").size(), 3u);
  EXPECT_EQ(logger.count(" TRACE: Drop "), 0u) << "no chunk line reaches the reader";
  EXPECT_TRUE(logger.contains(" Next url='" + kStream + "&sequence=1000&offset=1'"));
  peer.stop();
}

// A camera that stops sending, before its answer or within the stream, ends the play with a
// failure once the silence guard has passed, not after the hour the whole stream may take; a
// picture that never ends is cut at the cap and ends the play.
TEST_F(RecordingPlaybackTest, AStreamThatStallsEndsThePlayWithTheTimeOut) {
  const std::string sequence = firstSequence();
  const std::string garbage(300, '\x11');
  struct Case {
    const char* what;
    std::string before;  // what the camera sends before it falls silent
    size_t pictures;
    const char* end;
    size_t maxBlock;
  };
  for (const Case& c : {Case{"before the answer", "", 0, "failed 110", 0},
                        Case{"within the stream", "HTTP/1.0 200 OK\r\n\r\n" + sequence, 3, "failed 110", 0},
                        Case{"a picture that never ends",
                             "HTTP/1.0 200 OK\r\n\r\n" + garbage + "\xFF\xD8\xFF\xE0" + std::string(200000, '\x55'), 0,
                             "failed 264", 64 * 1024}}) {
    SCOPED_TRACE(c.what);
    RawPeer peer([&](const std::string& request) {
      if (request.find("output=zlg") == std::string::npos)
        return std::vector<RawPeer::Step>{RawPeer::send(kShortAnswer)};
      return std::vector<RawPeer::Step>{RawPeer::send(c.before), RawPeer::stall()};
    });
    PlaybackHandler played;
    playAgainst(peer, played, 300, c.maxBlock);
    EXPECT_EQ(played.waitForEnd(), c.end);
    EXPECT_EQ(played.frames("video").size(), c.pictures);
    playback->Destroy();
    playback = nullptr;
  }
  EXPECT_EQ(logger.count(" Stop playing, because of 110."), 2u) << logger.dump();
  EXPECT_TRUE(logger.contains(" Stop playing, because of 264."));
  const auto lines = logger.messages();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), " TRACE: Drop 300 bytes: " + std::string(128, '1') + "..."), 1)
      << "at most 64 bytes are shown";
}

// An audio block naming a sample rate of 2^28: its bit rate does not fit the host's int and
// becomes the largest one, not whatever the overflow gives.
TEST_F(RecordingPlaybackTest, AnAudioRateBeyondTheHostsRangeGivesTheLargestBitRate) {
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
  RawPeer peer([&](const std::string& request) {
    if (request.find("output=zlg&searchbytime_start=") != std::string::npos)
      return std::vector<RawPeer::Step>{RawPeer::send("HTTP/1.0 200 OK\r\n\r\n" + sequence)};
    return std::vector<RawPeer::Step>{RawPeer::send(kShortAnswer)};
  });
  playAgainst(peer, handler);
  EXPECT_EQ(handler.waitForEnd(), "finished 104") << logger.dump();
  EXPECT_GE(factory.audioCount(), 3u);
  EXPECT_EQ(factory.lastAudioBitRate, 2147483647);
  peer.stop();
}

}  // namespace
