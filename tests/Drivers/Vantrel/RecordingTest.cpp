// The camera as a storage device against the simulator's recording timeline and scripted peers.
// Searching: the span, searches over ranges in the camera's batches of 50, stopping, and answers
// that are no list. Playing (three sequences of three pictures, a second apart): seeks, plays from
// sequence to sequence, and peers that answer chunked, stall or never end.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <boost/format.hpp>
#include <gtest/gtest.h>

#include "CamsimProcess.h"
#include "CapturingLogger.h"
#include "Device.h"
#include "RawPeer.h"
#include "RecordingPlayback.h"
#include "Recorder.h"
#include "ShippedDevice.h"
#include "TestChannels.h"
#include "host/Nuvlet/GlobalService.h"
#include "host/Storage.h"

namespace {

using namespace std::chrono_literals;

// A VX-S10 on the simulator (or on a scripted peer's port).
class StorageTest : public ::testing::Test {
 protected:
  void connect(uint16_t port) {
    device = makeShippedDevice("VX-S10", nullptr, &logger);
    device->Connect(("http://127.0.0.1:" + std::to_string(port) + "/").c_str());
  }
  void timeline(const std::string& query) {
    camera.get("/sim/recordings?" + query);
    camera.clearRequests();
  }

  std::shared_ptr<Talvo::Utility::GlobalService> service = Talvo::Utility::GlobalService::instance();
  CamsimProcess camera;
  CapturingLogger logger;
  std::unique_ptr<Vantrel::Device> device;
};

const uint64_t kStart = 1500000000;  // the timeline's first second
const std::string kList = "/control/event.jpg?output=alarmlist_extended";

// The begin (ms) of a sequence of the simulator's timeline: 10 s long, 5 s apart.
uint64_t sequenceBegin(int index) { return (kStart + static_cast<uint64_t>(index) * 15) * 1000 + 500; }

// What the search and the storage queries report, in order: "1057 <begin>-<end> video <begin>-<end>"
// per range found with its tracks, "completed 0", "list <recordings>", "one <recording>", "failed 110".
class StorageReports : public Talvo::GDRV::IRecordingSearchHandler,
                       public Talvo::GDRV::IRecordingsInfoHandler,
                       public Talvo::GDRV::ISingleRecordingInfoHandler,
                       public Recorder {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char*) override { return nullptr; }
  void Completed(Talvo::GDRV::IRecordingSearch*, int32_t code) override { add("completed " + std::to_string(code)); }
  void Found(Talvo::GDRV::IRecordingSearch*, Talvo::GDRV::Storage::IRecordingRange* range) override {
    std::string text = range->GetRecordingId() + (" " + span(range->GetBegin(), range->GetEnd()));
    for (auto* tracks = range->GetTracks(); tracks->MoveNext();) {
      auto* track = Talvo::contract_cast<Talvo::GDRV::Storage::ITrackRange>(tracks->Current());
      text += " " + std::string(track->GetTrackId()) + " " + span(track->GetBegin(), track->GetEnd());
    }
    add(text);
  }
  void Failed(Talvo::GDRV::IStorageDevice*, int32_t code) override { add("failed " + std::to_string(code)); }
  void Result(Talvo::GDRV::IStorageDevice*, Talvo::GDRV::Storage::IRecordingInfoEnumerator* recordings) override {
    std::string text = "list";
    while (recordings->MoveNext())
      text += " " + describe(Talvo::contract_cast<Talvo::GDRV::Storage::IRecordingInfo>(recordings->Current()));
    add(text);
  }
  void Result(Talvo::GDRV::IStorageDevice*, Talvo::GDRV::Storage::IRecordingInfo* recording) override {
    add("one " + describe(recording));
  }
  // Every report once the last, non-numeric one came (empty when none came in time).
  std::vector<std::string> waitForEnd() const {
    waitUntil([&] { return !reports_.empty() && !std::isdigit(static_cast<unsigned char>(reports_.back()[0])); }, 10s);
    return snapshot(&StorageReports::reports_);
  }

 private:
  static std::string span(uint64_t begin, uint64_t end) { return std::to_string(begin) + "-" + std::to_string(end); }
  static std::string describe(Talvo::GDRV::Storage::IRecordingInfo* recording) {
    std::string text = recording->GetId() + (":" + std::string(recording->GetName())) + " " +
                       span(recording->GetBegin(), recording->GetEnd());
    for (auto* tracks = recording->GetTracks(); tracks->MoveNext();) {
      auto* track = Talvo::contract_cast<Talvo::GDRV::Storage::ITrackInfo>(tracks->Current());
      text += std::string(" ") + track->GetId() + "/" + track->GetMediaType();
    }
    return text;
  }
  void add(std::string report) {
    record([&] { reports_.push_back(std::move(report)); });
  }
  std::vector<std::string> reports_;
};

class RecordingSearchTest : public StorageTest {
 protected:
  void SetUp() override { connect(camera.httpPort()); }
  void TearDown() override {
    if (search) search->Destroy();
    device.reset();
  }
  void timeline(int count) {
    StorageTest::timeline("count=" + std::to_string(count) + "&length=10&gap=5&start=1500000000");
  }
  // What a search over [begin, end] reported.
  std::vector<std::string> find(uint64_t begin, uint64_t end, bool stop = false) {
    if (search) search->Destroy();
    search = device->CreateRecordingSearch("0");
    reports.emplace_back();
    search->FindRecordings(Talvo::GDRV::DateTimeRange{begin, end}, 0, &reports.back());
    if (stop) search->StopSearch(), search->StopSearch();
    return reports.back().waitForEnd();
  }
  std::vector<std::string> listRequests() const { return camera.requestTargets(kList); }

  std::deque<StorageReports> reports;
  Talvo::GDRV::IRecordingSearch* search = nullptr;
};

// The ranges `first` down to `last` that begin at `begin(i)` and last 10 s, then "completed <code>".
std::vector<std::string> ranges(int first, int last, uint64_t (*begin)(int), int code) {
  std::vector<std::string> texts;
  for (int i = first; i >= last; --i) {
    const std::string span = std::to_string(begin(i)) + "-" + std::to_string(begin(i) + 10000);
    texts.push_back(std::to_string(1000 + i) + " " + span + " video " + span);
  }
  texts.push_back("completed " + std::to_string(code));
  return texts;
}

// The span of the card's sequences, none on an empty card; a camera that drops every connection
// unanswered makes both storage queries and a search report the failure, none of them success.
TEST_F(RecordingSearchTest, StorageSpanIsOneRecordingWithBothTracksAndATransportFailureIsNoSuccess) {
  const std::string span = "0:VantrelRecording 1500000000500-1500000040500 video/video audio/audio";
  const std::string empty = "0:VantrelRecording 0-0 video/video audio/audio";
  RawPeer closing({RawPeer::close()});
  for (const int count : {3, 0, -1}) {
    SCOPED_TRACE(count);
    if (count < 0) connect(closing.port());
    timeline(std::max(count, 0));
    StorageReports list, one;
    device->RequestRecordingsInfo(&list);
    device->RequestRecordingInfo("0", &one);
    auto reported = list.waitForEnd();
    reported.push_back(one.waitForEnd().at(0));
    if (count >= 0) {
      EXPECT_EQ(reported, (std::vector<std::string>{count ? "list " + span : "list", "one " + (count ? span : empty)}));
      EXPECT_EQ(camera.requestTargets("/control/event.jpg"),
                std::vector<std::string>(2, "/control/event.jpg?output=evtinfo"));
      continue;
    }
    ASSERT_EQ(reported.size(), 2u);
    for (const auto& report : reported) EXPECT_TRUE(report.rfind("failed ", 0) == 0 && report != "failed 0") << report;
    const auto searched = find(1000, 2000000);
    ASSERT_EQ(searched.size(), 1u);
    EXPECT_TRUE(searched[0].rfind("completed ", 0) == 0 && searched[0] != "completed 0") << searched[0];
  }
  EXPECT_TRUE(
      logger.contains("] in range [2017-07-14T02:40:00.500Z=1500000000500,2017-07-14T02:40:40.500Z=1500000040500]"))
      << logger.dump();
  EXPECT_TRUE(logger.contains("] Failed to get record, error:")) << logger.dump();
}

// Newest first in the camera's batches of 50, each starting before the oldest sequence listed;
// the sequence over the range's begin is in it, and the batch that reaches the begin ends the
// search. A stopped search completes with 12 and reports nothing.
TEST_F(RecordingSearchTest, A120SequenceRangeComesNewestFirstInThreeBatches) {
  timeline(120);
  const uint64_t end = sequenceBegin(119) + 60000;
  EXPECT_EQ(find(sequenceBegin(0) - 1000, end), ranges(119, 0, sequenceBegin, 0));
  EXPECT_EQ(listRequests(), (std::vector<std::string>{
                                kList + "&searchbytime_start=" + std::to_string(end / 1000) + "&length=50",
                                kList + "&sequence=1070&offset=-1&length=50",
                                kList + "&sequence=1020&offset=-1&length=50",
                            }));
  EXPECT_TRUE(logger.contains(" Records reported: 120"));

  // From 3 s into sequence 55 up to the very start of sequence 58.
  camera.clearRequests();
  EXPECT_EQ(find(sequenceBegin(55) + 3000, sequenceBegin(58)), ranges(57, 55, sequenceBegin, 0));
  EXPECT_EQ(listRequests().size(), 1u) << "the first batch reaches the range's begin";
  EXPECT_TRUE(logger.contains(" 3 Records reprted, stop as reached start of range."));
  EXPECT_TRUE(logger.contains(" Record found id=1057 start="));

  camera.fault("path=/control/event.jpg&delay_ms=300&count=1");
  EXPECT_EQ(find(sequenceBegin(0), sequenceBegin(9), true), std::vector<std::string>{"completed 12"});
}

// Answers that are no list (complete with 0, nothing found), and a camera (or a proxy's cache)
// that answers every follow-up with the same batch: the search ends once with 256, and each
// sequence is reported once.
TEST_F(RecordingSearchTest, AnswersThatListNothingOrTheSameBatchAgain) {
  std::string batch = "[";
  for (int i = 49; i >= 0; --i)
    batch += "{\"alarmimage\":\"" + std::to_string(1000 + i) + "\",\"timestamp\":" + std::to_string(kStart + 20 * i) +
             ",\"seqinfo\":{\"length_sec\":10}}" + (i != 0 ? "," : "]");
  struct Case {
    std::string body;
    std::vector<std::string> reported;
    const char* logged;
    long lists;  // list requests
  };
  const auto begin = [](int i) { return (kStart + 20 * i) * 1000; };
  for (const Case& c : {Case{"[{\"alarmimage\":\"1\",\"timestamp\":", {"completed 0"}, " Exception: ", 1},
                        Case{"[\n]\n", {"completed 0"}, " Nothing found", 1},
                        Case{"{\"alarmimage\":\"1\"}", {"completed 0"}, " Exception: ", 1},
                        Case{batch, ranges(49, 0, begin, 256), "", 2}}) {
    SCOPED_TRACE(c.body.substr(0, 40));
    RawPeer peer(
        {RawPeer::send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(c.body.size()) + "\r\n\r\n" + c.body)});
    connect(peer.port());
    EXPECT_EQ(find(kStart * 1000, (kStart + 5000) * 1000), c.reported);
    EXPECT_TRUE(logger.contains(c.logged)) << logger.dump();
    const auto heads = peer.requests();
    EXPECT_EQ(std::count_if(heads.begin(), heads.end(),
                            [](const std::string& head) { return head.find("GET " + kList) == 0; }),
              c.lists);
    EXPECT_TRUE(std::any_of(heads.begin(), heads.end(), [](const std::string& head) {
      return head.find("GET " + kList + "&searchbytime_start=" + std::to_string(kStart + 5000) + "&length=50 ") == 0;
    }));
    search->Destroy();
    search = nullptr;
    device.reset();
  }
}

const std::string kStream = "/control/event.jpg?output=zlg";

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
    std::vector<PlayedFrame> of;
    for (const auto& f : snapshot(&PlaybackHandler::frames_))
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
  std::string ends() const { return snapshot(&PlaybackHandler::ends_); }

 private:
  void end(std::string text) {
    record([&] { ends_ += ends_.empty() ? text : "; " + text; });
  }
  std::vector<PlayedFrame> frames_;
  std::string ends_;
};

class RecordingPlaybackTest : public StorageTest {
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
    StorageTest::connect(port);
    playback = device->CreateRecordingPlayback("0", &factory, nullptr, played ? played : &handler);
  }
  // Waits for the action's first result: -1 when none came in time.
  static int resultOf(const RecordingActionHandler& action) {
    return action.waitForResults(1, 10s) ? action.results().front() : -1;
  }
  std::vector<std::string> streamRequests() const { return camera.requestTargets(kStream); }

  TestFrameFactory factory;
  PlaybackHandler handler;
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

// Scripted cameras playing the first sequence, its audio at 2^28 samples/s (a bit rate beyond int:
// the largest one): plain; chunked on a kept connection (the chunks' data are the pictures, the
// last chunk asks for the next sequence); silent before the answer or within the stream (failing
// after the silence guard, not the stream's hour); a picture that never ends (cut at the cap).
TEST_F(RecordingPlaybackTest, ScriptedCamerasPlainChunkedStallingOrEndless) {
  std::string sequence = camera.request(kStream + "&searchbytime_start=1500000000").body;  // as the camera sends it
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
        return std::vector<RawPeer::Step>{RawPeer::send("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n")};
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
