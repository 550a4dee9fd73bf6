// The loudspeaker channel against the camera simulator: what the loudspeaker gets, a camera that
// stops reading, the cap on the waiting buffers, the loudspeaker level.

#include "AudioDestination.h"
#include "Nuvlet/include/HttpDigest.h"
#include "Nuvlet/src/HexText.h"
#include "VideoFixture.h"

namespace {

using namespace std::chrono_literals;

// What the host hears of its calls, and how often it saw each of its buffers ended (by sending order).
class CallHandler : public Talvo::GDRV::IAudioDestinationHandler, public Recorder {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return Talvo::isContractName<Talvo::GDRV::IAudioDestinationHandler>(typeName) ? this : nullptr;
  }
  void Failed(Talvo::IContract*, int32_t code) override {
    record([&] { failures.push_back(code); });
  }
  void Started(Talvo::IContract*) override {
    record([&] { ++established; });
  }
  void Stopped(Talvo::IContract*) override {
    record([&] { ++ended; });
  }
  void StatisticUpdated(Talvo::IContract*, const char*, const char*) override {}

  // True when call number `n` is established; false when a call ended or failed first.
  bool waitEstablished(std::chrono::milliseconds deadline, int n = 1) const {
    return waitUntil([&] { return established >= n || ended >= n || !failures.empty(); }, deadline) && established >= n;
  }
  bool waitEnded(std::chrono::milliseconds deadline, int n = 1) const {
    return waitUntil([&] { return ended >= n; }, deadline);
  }
  size_t issue() {
    std::lock_guard<std::mutex> lock(mutex_);
    ends.push_back(0);
    return ends.size() - 1;
  }
  void end(size_t number) {
    record([&] { ++ends[number]; });
  }

  int established = 0;
  int ended = 0;
  std::vector<int> failures;
  std::vector<int> ends;
};

// A host audio buffer, every byte telling the buffer's number; the channel ends it with Destroy.
struct HostAudio : AudioBuffer {
  HostAudio(CallHandler& host, size_t size) : AudioBuffer("G.711", size, true), host(host), number(host.issue()) {
    std::fill(bytes.begin(), bytes.end(), uint8_t(number));
  }
  int32_t GetEncoding() override { return Talvo::MFF::AUDIO_G7XX_ENCODING_ULAW; }
  void Destroy() override {
    host.end(number);
    delete this;
  }
  CallHandler& host;
  const size_t number;
};

class SpeakerTest : public CamsimDeviceTest {
 protected:
  void startCamera(const std::string& model, const std::string& password = "s3cr%40t") {
    connectCamsim(model, nullptr, "", password);
    destination = device->CreateAudioDestination(&handler, 0);
    ASSERT_NE(destination, nullptr);
  }
  Vantrel::AudioDestination& ours() { return dynamic_cast<Vantrel::AudioDestination&>(*destination); }
  // Sends the next buffer; its bytes are its number.
  std::string send(size_t size = 160) {
    auto* buffer = new HostAudio(handler, size);
    const std::string bytes(buffer->bytes.begin(), buffer->bytes.end());
    destination->SendAudio(buffer);
    return bytes;
  }
  nlohmann::json speaker() const { return nlohmann::json::parse(camera->get("/sim/speaker")); }
  // Waits until the loudspeaker of the latest call has `bytes` bytes.
  bool waitForSpeakerBytes(uint64_t bytes) const {
    return pollUntil([&] { return speaker()["bytes"].get<uint64_t>() >= bytes; }, 10s);
  }
  // Every buffer the host sent was ended once, whether written, dropped or left at the call's end.
  void TearDown() override {
    if (destination) destination->Destroy();
    const auto ends = handler.snapshot(&CallHandler::ends);
    EXPECT_EQ(ends, std::vector<int>(ends.size(), 1));
    CamsimDeviceTest::TearDown();
  }

  CallHandler handler;
  Talvo::GDRV::IAudioDestination* destination = nullptr;
};

// Every buffer reaches the loudspeaker once, in order, whether or not the camera answers the call
// first (VX-D20 does); the call is the camera's POST with the camera's credentials.
class CallTest : public SpeakerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CallTest, BuffersArriveInOrderAndComplete) {
  startCamera(GetParam());
  destination->Call();
  ASSERT_TRUE(handler.waitEstablished(10s)) << logger.dump();
  std::string sent;
  for (size_t i = 0; i < 90; ++i) sent += send();  // 1.8 s of audio: below the cap, nothing may be dropped
  ASSERT_TRUE(waitForSpeakerBytes(sent.size())) << speaker().dump();
  destination->HangUp();
  ASSERT_TRUE(handler.waitEnded(5s));
  const auto heard = speaker();
  EXPECT_EQ(heard["bytes"], sent.size());
  EXPECT_EQ(heard["calls"], 1);
  EXPECT_EQ(heard["sha256_first_64k"], Talvo::http::digestHex("SHA-256", sent));
  EXPECT_EQ(ours().droppedBuffers(), 0u);
  EXPECT_EQ(camera->requestTargets("/control/ddspeaker"), std::vector<std::string>{"/control/ddspeaker"});
  EXPECT_EQ(handler.snapshot(&CallHandler::failures), std::vector<int>{});
  EXPECT_EQ(handler.snapshot(&CallHandler::ended), 1) << "one end for one call";
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutAnswer, CallTest, ::testing::Values("VX-S10", "VX-D20"));

// A camera that answers the call refuses a wrong password with its status.
TEST_F(SpeakerTest, AnsweringCameraRefusesAWrongPasswordWithItsStatus) {
  startCamera("VX-D20", "wrong");
  destination->Call();
  EXPECT_FALSE(handler.waitEstablished(10s));
  EXPECT_EQ(handler.snapshot(&CallHandler::failures), std::vector<int>{401}) << logger.dump();
}

// The camera takes the call but stops reading: the guarded write times out and ends the call.
// Meanwhile the host sends far faster than anyone plays: the waiting buffers stay capped.
TEST_F(SpeakerTest, ACameraThatStopsReadingEndsTheCallWithTheTimeOut) {
  startCamera("VX-S10");
  camera->fault("path=/control/ddspeaker&no_read=1&count=1");
  ours().setWriteTimeout(boost::posix_time::milliseconds(300));
  destination->Call();
  ASSERT_TRUE(handler.waitEstablished(10s)) << logger.dump();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  for (size_t i = 0; handler.snapshot(&CallHandler::ended) == 0 && std::chrono::steady_clock::now() < deadline; ++i)
    send(256 * 1024);  // fills the connection's buffers within a few dozen sends
  ASSERT_TRUE(handler.waitEnded(1s)) << logger.dump();
  EXPECT_TRUE(logger.contains(" Timeout in audio destination"));
  EXPECT_GT(ours().droppedBuffers(), 0u);
  EXPECT_EQ(logger.count(" Dropped "), 1u) << "one line for the call";
}

// The cap keeps the newest 2 s (100 buffers) of those waiting for the camera's answer. With no call
// up, buffers end at once and a hang-up gets one call end; buffers waiting for a call being set up
// end when the host destroys the channel (TearDown counts the ends).
TEST_F(SpeakerTest, TheCapDropsTheOldestAndLogsOncePerCall) {
  startCamera("VX-D20");
  camera->fault("path=/control/ddspeaker&delay_ms=1500&count=1");
  destination->Call();
  ASSERT_TRUE(camera->waitForRequest("/control/ddspeaker", 1, 10s));
  for (size_t i = 0; i < 200; ++i) send();
  ASSERT_EQ(handler.snapshot(&CallHandler::established), 0) << "the camera answers after 1.5 s";
  const auto ends = handler.snapshot(&CallHandler::ends);
  EXPECT_EQ(std::vector<int>(ends.begin() + 100, ends.end()), std::vector<int>(100, 0)) << "the newest wait";
  ASSERT_TRUE(handler.waitEstablished(10s)) << logger.dump();
  ASSERT_TRUE(waitForSpeakerBytes(100 * 160)) << speaker().dump();
  destination->HangUp();
  ASSERT_TRUE(handler.waitEnded(5s));
  const auto heard = speaker();
  EXPECT_EQ(heard["bytes"], 100 * 160);
  EXPECT_EQ(heard["first"], Talvo::text::lowerHex(std::vector<uint8_t>(16, 100).data(), 16));
  EXPECT_EQ(heard["last"], Talvo::text::lowerHex(std::vector<uint8_t>(16, 199).data(), 16));
  EXPECT_EQ(ours().droppedBuffers(), 100u);
  EXPECT_EQ(logger.count(" Dropped 100 audio buffers"), 1u) << logger.dump();
  destination->Call();  // a second call starts its own count
  ASSERT_TRUE(handler.waitEstablished(10s, 2));
  destination->HangUp();
  ASSERT_TRUE(handler.waitEnded(5s, 2));
  EXPECT_EQ(logger.count(" Dropped "), 1u);

  for (size_t i = 0; i < 3; ++i) send();
  EXPECT_EQ(handler.snapshot(&CallHandler::ends), std::vector<int>(203, 1));
  destination->HangUp();
  ASSERT_TRUE(handler.waitEnded(5s, 3)) << "the host waits for the end of what it hung up";
  EXPECT_TRUE(logger.contains(" No call to end"));
  camera->fault("path=/control/ddspeaker&delay_ms=1500&count=1");
  destination->Call();
  ASSERT_TRUE(camera->waitForRequest("/control/ddspeaker", 3, 10s));
  send();
  destination->Destroy();
  destination = nullptr;
}

// The loudspeaker level is a set of its own; a value that is no number is refused with 4.
TEST_F(SpeakerTest, VolumeBecomesTheSpeakerLevelRequest) {
  startCamera("VX-S10");
  auto* adjuster = Talvo::contract_cast<Talvo::IAsyncAdjuster>(destination);
  ASSERT_NE(adjuster, nullptr);
  RecordingActionHandler done;
  adjuster->SetValue("volume", 80);
  adjuster->ApplySettings(&done);
  ASSERT_TRUE(done.waitForResults(1, 10s));
  adjuster->SetValue("volume", "loud");
  adjuster->ApplySettings(&done);
  ASSERT_TRUE(done.waitForResults(2, 10s));
  EXPECT_EQ(done.results(), (std::vector<int>{0, 4}));
  EXPECT_EQ(camera->requestTargets("/control/control?set&section=audio"),
            std::vector<std::string>{"/control/control?set&section=audio&SPEAKERLEVEL=80"});
  EXPECT_NE(camera->get("/sim/state?section=audio&SPEAKERLEVEL").find("SPEAKERLEVEL=80"), std::string::npos);
}

}  // namespace
