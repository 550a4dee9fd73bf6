// The classic server-push video source as the host drives it: against a scripted peer where
// the bytes must be exact, against the camera simulator for streams, audio, events and settings.
#include <malloc.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <future>

#include "ServerPushReader.h"
#include "RawPeer.h"
#include "VideoFixture.h"
#include "VideoSource.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;  // pictures hold NUL bytes

const std::string kBoundary = Vantrel::ServerPushReader::kBoundary;

// A picture with its tables (APP0, then a quantisation table), one that starts its scan at once,
// and one whose marker walk breaks off.
const std::string kKeyPicture = "\xFF\xD8\xFF\xE0\x00\x04JF\xFF\xDB\x00\x03\x01\xFF\xDA\x00\x02\x11\x22\xFF\xD9"s;
const std::string kDeltaPicture = "\xFF\xD8\xFF\xE0\x00\x04JF\xFF\xDA\x00\x02\x33\x44\x55\xFF\xD9"s;
const std::string kBrokenWalk = "\xFF\xD8\xFF\xE0\x00\x04JF\x00\xDA\x00\x02\xFF\xD9"s;

std::string streamHead() {
  return "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=VANTREL_Fast_Serverpush\r\n\r\n" +
         kBoundary;
}
std::string part(const std::string& body) { return "Content-Type: image/jpeg\r\n\r\n" + body + "\r\n" + kBoundary; }
// A part whose head announces `length` bytes of body (by default its true length).
std::string announcedPart(const std::string& body, size_t length = std::string::npos) {
  return "Content-Type: image/jpeg\r\nContent-Length: " + std::to_string(length == body.npos ? body.size() : length) +
         "\r\n\r\n" + body + "\r\n" + kBoundary;
}
// A picture far longer than a part head's read; `fill` tells pictures apart.
std::string bigPicture(bool key, char fill) {
  const std::string start = key ? kKeyPicture.substr(0, 13) : kDeltaPicture.substr(0, 8);
  return start + "\xFF\xDA\x00\x02" + std::string(64 * 1024, fill) + "\xFF\xD9";
}

using Pictures = std::vector<std::pair<std::string, bool>>;  // bytes, key

class PeerVideoTest : public CamsimVideoTest {
 protected:
  // A VX-S10 playing `stream` on its server-push path, "ok" to all else; starts `videoStream` (1: MJPEG).
  bool play(std::vector<RawPeer::Step> stream, uint32_t videoStream = 0) {
    peer = std::make_unique<RawPeer>(RawPeer::Chooser([stream](const std::string& head) {
      if (head.rfind("GET /control/faststream.jpg", 0) == 0) return stream;
      return std::vector<RawPeer::Step>{RawPeer::send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"),
                                        RawPeer::close()};
    }));
    makeDevice("VX-S10", peer->port());
    return startVideo(0, videoStream);
  }
  Pictures pictures() const {
    Pictures received;
    for (const auto& frame : frames())
      received.emplace_back(std::string(frame.bytes.begin(), frame.bytes.end()), frame.key);
    return received;
  }
  size_t streamRequests() const {
    const auto heads = peer->requests();
    return std::count_if(heads.begin(), heads.end(),
                         [](const std::string& head) { return head.rfind("GET /control/faststream.jpg", 0) == 0; });
  }

  std::unique_ptr<RawPeer> peer;
};

// How parts are cut and pictures judged is ServerPushReaderTest's and PictureCheckTest's; here the
// source hands on what they decide, byte-exact, and logs what it drops.
TEST_F(PeerVideoTest, PicturesReachTheHostByteExactlyAndRefusedOnesAreLogged) {
  ASSERT_TRUE(play({RawPeer::send(streamHead() + part("") + part("ABC") + part("ABCD") + part(kKeyPicture) +
                                  part(kDeltaPicture) + part(kBrokenWalk)),
                    RawPeer::stall()}));
  ASSERT_TRUE(handler.waitForFrames(2, 10s));
  ASSERT_TRUE(logger.waitFor(" Warning: invalid \"Zelta\" frame received.", 5s));
  EXPECT_EQ(pictures(), (Pictures{{kKeyPicture, true}, {kDeltaPicture, false}}));
  EXPECT_EQ(frames()[0].codec, "Zelta");
  EXPECT_EQ(logger.count(" Skip incorrect frame"), 1u) << "the body of 4 bytes; shorter ones are dropped silently";
  EXPECT_TRUE(handler.waitForLine("dropped parts=2", 5s)) << "the malformed and the invalid part are counted";
  const std::string url = "/control/faststream.jpg?stream=Zelta&iframerefresh=10&fps=20";
  EXPECT_EQ(peer->lastRequest().rfind("GET " + url + " HTTP/1.", 0), 0u) << peer->lastRequest();
  EXPECT_TRUE(logger.contains(" Init Zelta stream with url " + url));
  EXPECT_TRUE(failures().empty());
}

// Once a part showed true lengths, bodies are read straight into the host's buffer. A length the
// stream does not confirm costs a second buffer, and the scan cuts parts until one confirms it.
TEST_F(PeerVideoTest, AnnouncedBodiesGoStraightToTheHostAndWrongLengthsAreCaughtByTheScan) {
  const std::string kinds = "KKDKKDKD";
  Pictures sent;
  std::string stream = streamHead();
  for (size_t n = 0; n < kinds.size(); ++n) {
    sent.emplace_back(bigPicture(kinds[n] == 'K', char('a' + n)), kinds[n] == 'K');
    // Picture 3's read runs into the next part; picture 5's trailer is not where its head says.
    stream += announcedPart(sent.back().first, sent.back().first.size() + (n == 3 ? 40 : 0) - (n == 5 ? 40 : 0));
  }
  ASSERT_TRUE(play({RawPeer::send(stream), RawPeer::stall()}));
  ASSERT_TRUE(handler.waitForFrames(sent.size(), 10s));
  EXPECT_TRUE(pictures() == sent);
  // One buffer per picture, and one more for each wrong length (read straight first).
  EXPECT_EQ(factory.videoCount(), sent.size() + 2);
  EXPECT_TRUE(failures().empty());
  EXPECT_EQ(streamRequests(), 1u);
}

TEST_F(PeerVideoTest, MjpegStreamsAskForFullPicturesThatAreAllKey) {
  ASSERT_TRUE(play({RawPeer::send(streamHead() + part("ABCDE") + part(kDeltaPicture)), RawPeer::stall()}, 1));
  ASSERT_TRUE(handler.waitForFrames(1, 10s));
  EXPECT_EQ(frames()[0].codec, "MJPEG");
  EXPECT_TRUE(frames()[0].key);
  EXPECT_EQ(logger.count(" Skip incorrect frame"), 1u);
  EXPECT_EQ(peer->lastRequest().rfind("GET /control/faststream.jpg?stream=full&fps=10 HTTP/1.", 0), 0u)
      << peer->lastRequest();
  RecordingActionHandler done;
  video->RequestKeyFrame(&done);
  EXPECT_EQ(done.results(), std::vector<int>{8}) << "not supported";
}

// Runs `call` on another thread; false when it has not returned within the hang guard `guard`.
template <class Call>
bool returnsWithin(std::chrono::milliseconds guard, Call call) {
  auto done = std::async(std::launch::async, call);
  return done.wait_for(guard) == std::future_status::ready;
}

Vantrel::VideoSource& source(Talvo::GDRV::IVideoSource* video) { return dynamic_cast<Vantrel::VideoSource&>(*video); }

// Stop ends a stalled read and a settings request at once: the silence guard (110) never fires.
// VX-S10 has the classic source, VX-D20 the sectioned one.
class StopTest : public CamsimVideoTest, public ::testing::WithParamInterface<std::tuple<const char*, bool>> {};

TEST_P(StopTest, EndsAStalledReadOrARunningSettingsRequestAtOnce) {
  const auto [model, settingsRequest] = GetParam();
  startCamera(model, model);
  RecordingActionHandler done;
  camera->fault(settingsRequest ? "path=/control/control&delay_ms=60000"
                                : "path=/control/faststream.jpg&stall_after_parts=2");
  ASSERT_TRUE(startVideo());
  ASSERT_TRUE(handler.waitForFrames(settingsRequest ? 1 : 2, 10s));
  if (!settingsRequest) {
    ASSERT_TRUE(pollUntil([&] { return source(video).waitingForCamera(); }, 5s));  // the read after two parts
  } else {
    setValues(adjuster(), {{"compression", 3}, {"cameraLens", "right"}, {"brightness", 40}});
    adjuster()->ApplySettings(&done);
    ASSERT_TRUE(camera->waitForRequest("/control/control", 1, 10s)) << "the settings request runs";
  }
  EXPECT_TRUE(returnsWithin(2s, [&] { video->Stop(); }));
  EXPECT_TRUE(handler.waitForStopped(5s));
  if (settingsRequest) {
    ASSERT_TRUE(done.waitForResults(1, 5s));
    EXPECT_NE(done.results().front(), 0) << "a cancelled set is no success";
  }
  EXPECT_FALSE(logger.contains("system:110")) << "the silence guard did not end the read\n" << logger.dump();
  EXPECT_TRUE(failures().empty());
}

INSTANTIATE_TEST_SUITE_P(ClassicAndSectioned, StopTest,
                         ::testing::Combine(::testing::Values("VX-S10", "VX-D20"), ::testing::Bool()));

// Start, Stop and Destroy from the worker's callbacks and other threads: never a hang, a self-join
// or a deleted channel.
enum class CallbackAction { StopThenStartFromAFrame, DestroyFromAFrame, DestroyFromFailed };

class LifetimeTest : public CamsimVideoTest, public ::testing::WithParamInterface<CallbackAction> {};

TEST_P(LifetimeTest, StartStopAndDestroyFromCallbacksAndOtherThreads) {
  startCamera("VX-S10", "VX-S10");
  RecordingVideoHandler acting;
  Talvo::GDRV::IVideoSource* channel = device->CreateVideoSource(&acting, 0, 0, &factory);
  ASSERT_NE(channel, nullptr);
  const CallbackAction action = GetParam();
  if (action == CallbackAction::DestroyFromFailed) {
    camera->fault("path=/control/faststream.jpg&drop_after_parts=2");
    acting.onFailed = [&] { channel->Destroy(); };
  }
  acting.onFrame = [&](size_t frame) {
    if (frame != 3 || action == CallbackAction::DestroyFromFailed) return;
    if (action == CallbackAction::DestroyFromAFrame) return channel->Destroy();
    channel->Stop();
    channel->Start();
  };
  channel->Start();
  if (action == CallbackAction::StopThenStartFromAFrame) {
    ASSERT_TRUE(acting.waitForStarts(2, 10s)) << "the Start after the Stop starts again\n" << logger.dump();
    ASSERT_TRUE(acting.waitForFrames(6, 10s)) << "the new session streams";
    EXPECT_TRUE(returnsWithin(5s, [&] { channel->Stop(); }));
    EXPECT_TRUE(returnsWithin(5s, [&] { channel->Destroy(); }));
  }
  const int sessions = action == CallbackAction::StopThenStartFromAFrame ? 2 : 1;
  EXPECT_TRUE(acting.waitForStopped(10s, sessions));
  device.reset();  // the worker ends with its channel: nothing of it outlives the device
}

INSTANTIATE_TEST_SUITE_P(FromTheWorker, LifetimeTest,
                         ::testing::Values(CallbackAction::StopThenStartFromAFrame, CallbackAction::DestroyFromAFrame,
                                           CallbackAction::DestroyFromFailed));

// A slow link is no outage: a picture trickling in for longer than the silence guard, with shorter
// gaps, arrives; also when its announced body is read straight into the host's buffer.
class SlowLinkTest : public PeerVideoTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SlowLinkTest, APictureSlowerThanTheSilenceGuardArrives) {
  const bool announced = GetParam();
  const std::string picture = bigPicture(true, 's');
  const std::string head =
      announced ? announcedPart(bigPicture(true, 'f')) +
                      "Content-Type: image/jpeg\r\nContent-Length: " + std::to_string(picture.size()) + "\r\n\r\n"
                : "Content-Type: image/jpeg\r\n\r\n";
  std::vector<RawPeer::Step> stream = {RawPeer::send(streamHead() + head)};
  for (size_t n = 0, piece = picture.size() / 5 + 1; n < picture.size(); n += piece) {
    stream.push_back(RawPeer::pause(1400ms));
    stream.push_back(RawPeer::send(picture.substr(n, piece)));
  }
  stream.push_back(RawPeer::send("\r\n" + kBoundary));
  stream.push_back(RawPeer::stall());
  ASSERT_TRUE(play(stream));
  ASSERT_TRUE(handler.waitForFrames(announced ? 2 : 1, 20s)) << logger.dump();
  EXPECT_TRUE(pictures().back().first == picture);
  EXPECT_TRUE(failures().empty());
  EXPECT_EQ(streamRequests(), 1u) << "one stream, never broken";
}

INSTANTIATE_TEST_SUITE_P(ScannedOrAnnounced, SlowLinkTest, ::testing::Bool());

// The bytes malloc holds from the system in its heaps, all threads' arenas together (its mapped
// blocks not counted); 0 where a sanitizer's allocator stands in for malloc.
size_t mallocHeapBytes() {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  if (out == nullptr) return 0;
  malloc_info(0, out);
  std::fclose(out);
  const std::string info(text, size);
  std::free(text);
  const std::string key = "<system type=\"current\" size=\"";
  const size_t at = info.rfind(key);  // the last one is the total
  return at == std::string::npos ? 0 : std::stoull(info.substr(at + key.size()));
}

// Big parts leave their memory neither with the channel nor in malloc's heap (freed big blocks
// raise malloc's mmap threshold; the peer's copy of the stream is mapped, not heap).
TEST_F(PeerVideoTest, TheBufferGivesBackTheMemoryOfABigPart) {
  const std::vector<RawPeer::Step> stream = {
      RawPeer::send(streamHead() + part(std::string(24 * 1024 * 1024, 'x')) + part(kKeyPicture) +
                    part(std::string(10 * 1024 * 1024, 'y')) + part(kDeltaPicture)),
      RawPeer::stall()};
  const size_t heapBefore = mallocHeapBytes();
  ASSERT_TRUE(play(stream));
  ASSERT_TRUE(handler.waitForFrames(2, 20s));
  ASSERT_TRUE(pollUntil([&] { return source(video).receiveBufferCapacity() > 0; }, 5s));
  EXPECT_LE(source(video).receiveBufferCapacity(), Vantrel::VideoSource::kKeptBufferCapacity);
  EXPECT_LT(mallocHeapBytes(), heapBefore + 8 * 1024 * 1024) << "malloc's heaps kept the big part's blocks";
}

// Parts without pictures are one outage (EBADMSG after 10 s), also from a camera that keeps
// resetting; their warnings are collapsed (a line per hundred).
class MalformedTest : public PeerVideoTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MalformedTest, PartsWithoutPicturesAreOneOutageWithCollapsedWarnings) {
  const bool resets = GetParam();
  std::vector<RawPeer::Step> stream = {RawPeer::send(streamHead() + part("ABCD") + part("ABCD") + part("ABCD"))};
  for (int n = 0; n < (resets ? 0 : 360); ++n) {
    if (n >= 300) stream.push_back(RawPeer::pause(250ms));
    stream.push_back(RawPeer::send(part("ABCD")));
  }
  stream.push_back(resets ? RawPeer::close() : RawPeer::stall());
  ASSERT_TRUE(play(stream));
  ASSERT_TRUE(handler.waitForFailures(1, 20s)) << logger.dump();
  if (resets) {
    ASSERT_TRUE(peer->waitForConnections(8, 20s)) << "the source keeps trying";
    EXPECT_GE(streamRequests(), 6u);
  } else {
    EXPECT_EQ(failures().front(), EBADMSG);
    EXPECT_TRUE(logger.contains(" No picture could be delivered for 10 s: bad data"));
    EXPECT_EQ(streamRequests(), 1u) << "one live stream";
  }
  video->Stop();
  EXPECT_EQ(failures().size(), 1u);
  EXPECT_GE(logger.count(" Skip incorrect frame"), 1u);
  EXPECT_LE(logger.count(" Skip incorrect frame"), 5u);
}

INSTANTIATE_TEST_SUITE_P(LiveAndResetting, MalformedTest, ::testing::Bool());

// The pause between attempts: 500 ms after a broken connection, growing (0.5, 1, 2, 4 s ...) after
// a refused password; the stream's status is the reported code.
struct RetryCase {
  const char* fault;
  int code;
  size_t fewest, most;  // attempts within 4 s of the first
};

class RetryTest : public CamsimVideoTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RetryTest, RefusedStreamsReportTheirStatusAndRetryAtTheirPace) {
  const RetryCase c = GetParam();
  startCamera("VX-S10", "VX-S10");
  camera->fault(std::string("path=/control/faststream.jpg&") + c.fault);
  ASSERT_TRUE(startVideo());
  std::vector<long long> times;  // until the attempts span more than 4 s
  ASSERT_TRUE(pollUntil(
      [&] { return (times = streamAttemptTimes()).size() > 1 && times.back() - times.front() > 4000; }, 20s, 100ms));
  const size_t attempts = std::count_if(times.begin(), times.end(), [&](long long t) { return t <= times[0] + 4000; });
  EXPECT_GE(attempts, c.fewest);
  EXPECT_LE(attempts, c.most);
  video->Stop();
  EXPECT_EQ(failures(), std::vector<int>{c.code});
}

INSTANTIATE_TEST_SUITE_P(Statuses, RetryTest,
                         ::testing::Values(RetryCase{"close=1", 104, 6, 10}, RetryCase{"status=500", 500, 6, 10},
                                           RetryCase{"status=401", 401, 3, 5}, RetryCase{"status=403", 403, 3, 5}));

// The first delivered picture resets the pause grown by three refusals to 0.5 s.
TEST_F(CamsimVideoTest, ADeliveredPictureResetsThePauseAfterRefusals) {
  startCamera("VX-S10", "VX-S10");
  camera->fault("path=/control/faststream.jpg&status=401&count=3");
  camera->fault("path=/control/faststream.jpg&drop_after_parts=2&count=1");
  camera->fault("path=/control/faststream.jpg&status=401&count=1");
  ASSERT_NE(createVideo(), nullptr);
  video->Start();
  ASSERT_TRUE(handler.waitForFrames(4, 30s)) << "pictures flow after the second refusal";
  video->Stop();
  const auto times = streamAttemptTimes();
  ASSERT_GE(times.size(), 6u);
  EXPECT_GE(times[3] - times[2], 1500) << "the pause grew after the refusals";
  EXPECT_LT(times[5] - times[4], 2000) << "the pause after the next refusal starts at 0.5 s again";
}

// A channel with the camera's own maximum frame rate asks for fps=0.
TEST_F(CamsimVideoTest, MaximumFrameRateChannelsAskForFpsZero) {
  startCamera("VX-H30", "VX-H30");
  ASSERT_TRUE(startVideo(1, 0));
  ASSERT_TRUE(handler.waitForFrames(1, 10s)) << logger.dump();
  EXPECT_EQ(camera->requestTargets("/control/faststream.jpg"),
            std::vector<std::string>{"/control/faststream.jpg?stream=full&fps=0"});
}

// Key and delta pictures, also with event sections; settings (built as VideoSettingsTest checks)
// reach a running camera, lens read and encoded text included, while the stream goes on.
TEST_F(CamsimVideoTest, StreamsAndTakesSettingsWhileItStreams) {
  startCamera("VX-D20", "VX-S10");  // a two-lens camera behind the classic source
  onCamera("/control/control?set&section=quickcontrol&brightness=30%2B50");
  camera->get("/sim/events?enable=1&est=IN1,OUT2");
  camera->clearRequests();
  ASSERT_TRUE(startVideo());
  ASSERT_TRUE(handler.waitForFrames(12, 20s));
  const auto received = frames();
  EXPECT_TRUE(received[0].key) << "a connection starts with a key picture";
  EXPECT_LT(size_t(std::count_if(received.begin(), received.end(), [](const ReceivedFrame& f) { return f.key; })),
            received.size())
      << "iframerefresh 10 leaves delta pictures between keys";
  for (const auto& frame : received) EXPECT_EQ(frame.bytes[3], 0xE0) << "pictures with events are delivered whole";
  for (const Set& set : {Set{{"compression", 3}}, Set{{"fps", 25}}, Set{{"displayMode", "dual&fps=1 x"}},
                         Set{{"cameraLens", "left"}, {"brightness", 40}}})
    EXPECT_EQ(apply(set), 0);
  const std::vector<std::string> expected = {
      "/control/control?section=imagecontrol&quality=70",
      "/control/control?section=general&framerate100=2500",
      "/control/control?section=imagecontrol&display_mode=dual%26fps%3D1%20x",
      "/control/control?read&section=quickcontrol&brightness",
      "/control/control?section=imagecontrol&brightness=30+40&camera=left",
  };
  EXPECT_EQ(controlRequests(), expected);
  EXPECT_TRUE(logger.contains(" Reconect, as parameters was changed"));
  ASSERT_TRUE(handler.waitForFrames(frames().size() + 1, 10s)) << "the stream goes on";

  EXPECT_EQ(apply({{"compression", "high"}}), 4) << "a text where a number belongs";
  EXPECT_TRUE(logger.contains(" Couldn't apply video settings due to bad_any_cast error - "));
  camera->fault("path=/control/control&status=500&count=1");
  EXPECT_EQ(apply({{"compression", 3}, {"fps", 25}}), 500);
  EXPECT_TRUE(logger.contains(" Couldn't apply some video settings due to error in HTTP response."));
  EXPECT_EQ(controlRequests().back(), "/control/control?section=general&framerate100=2500")
      << "a failing request does not stop the next";
  const size_t sent = controlRequests().size();
  EXPECT_EQ(video->SetBlockConfiguration(true), 1);
  EXPECT_EQ(apply({{"compression", 3}}), 0) << "a blocked configuration reports success";
  EXPECT_EQ(controlRequests().size(), sent) << "and sends nothing";
  video->Stop();
  EXPECT_TRUE(handler.waitForStopped(5s));
  EXPECT_TRUE(logger.contains(" All "));
}

}  // namespace
