// What a channel hands the host: periodical events; pooled float matrices, whose values are never
// handed out again while a matrix is held (by an event, a queued step, a host within its call); the
// buffer sender's handling of stream information; the G.711 sending filter's buffers and byte order.
#include "host/Nuvlet/EventRaiser.h"
#include "host/Nuvlet/Analytics.h"
#include "host/Nuvlet/FloatMatrixPool.h"
#include "Nuvlet/include/BufferSender.h"
#include "host/Nuvlet/Statistics.h"
#include "Nuvlet/include/AudioSendingFilter.h"

#include <boost/any.hpp>
#include <cstdint>
#include <deque>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CapturingLogger.h"
#include "TestChannels.h"

namespace {

using namespace Talvo::Utility;
namespace Info = FilterInfo;
namespace MFF = Talvo::MFF;

// Every call as a line; it offers no other face.
class PlainHandler : public Talvo::GDRV::IVideoAnalyticsHandler {
 public:
  void* Cast(const char*) override { return nullptr; }
  void* QueryContract(const char*) override { return nullptr; }
  void Failed(Talvo::IContract*, int32_t) override {}
  void Started(Talvo::IContract*) override {}
  void Stopped(Talvo::IContract*) override {}
  void Event(Talvo::IContract*, const char* name, Talvo::GDRV::EventPhase phase, uint64_t time, const char*,
             const char* detectorId) override {
    calls.push_back("event " + std::string(name) + " " + std::to_string(phase) + " " + std::to_string(time) + " " +
                    detectorId);
  }
  void Data(Talvo::IContract*, const char* name, uint64_t time, const char* json) override {
    calls.push_back("data " + std::string(name) + " " + std::to_string(time) + " " + json);
  }
  std::vector<std::string> calls;
};

// A handler without the properties face gets an event and its data as JSON (the properties face:
// tests/Drivers/Vantrel/TemperaturesDetectionTest).
TEST(EventRaiserTest, TheEventIsDeliveredWhenTheRaiserIsReleased) {
  PlainHandler handler;
  const Detector::EventFactory factory(nullptr, &handler);
  auto level = factory.RaisePeriodicalEvent("Level1", 17000, "");
  level->set("value", 1.0);
  level->set("value", 35.5);  // replaces
  EXPECT_TRUE(handler.calls.empty()) << "nothing before the release";
  level.reset();
  const auto matrix = FloatMatrix::create(1700000000123, std::vector<float>(6, 0.5f), 3, 2);
  factory.RaisePeriodicalEvent("TemperatureMatrix", 1700000000123, "temperatures")->set("TemperatureMatrix", matrix);
  EXPECT_EQ(handler.calls,
            (std::vector<std::string>{
                "event Level1 2 17000 ", "data Level1 17000 {\"value\":35.5}",
                "event TemperatureMatrix 2 1700000000123 temperatures",
                "data TemperatureMatrix 1700000000123 {\"TemperatureMatrix\":{\"width\":3,\"height\":2}}"}));
}

// A frame as the event stream makes one: values taken from the pool, every one written.
FloatMatrixPtr frame(FloatMatrixPool& pool, float value, uint32_t width = 4, uint32_t height = 3) {
  std::vector<float> values = pool.take(static_cast<size_t>(width) * height);
  for (float& v : values) v = value;
  return pool.matrix(static_cast<uint64_t>(value), std::move(values), width, height);
}

TEST(FloatMatrixPoolTest, HeldMatricesAreNeverWrittenReleasedOnesServeAgain) {
  const auto pool = FloatMatrixPool::create(2);
  FloatMatrixPtr kept = frame(*pool, 1.0f);  // the host's, for a while
  const float* keptValues = kept->GetValues();
  std::vector<const float*> seen;
  for (int i = 2; i < 12; ++i) {
    const FloatMatrixPtr next = frame(*pool, static_cast<float>(i));
    EXPECT_NE(next->GetValues(), keptValues) << "frame " << i << " got the held matrix's values";
    seen.push_back(next->GetValues());
  }
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_EQ(seen[i], seen[0]) << "one released vector serves every frame";
  for (const float v : kept->values()) ASSERT_EQ(v, 1.0f);
  EXPECT_EQ(kept->timeMs(), 1u);

  kept.reset();
  EXPECT_EQ(pool->waiting(), 2u);
  const FloatMatrixPtr a = frame(*pool, 20.0f), b = frame(*pool, 21.0f), c = frame(*pool, 22.0f);
  EXPECT_EQ(pool->waiting(), 0u);
  EXPECT_EQ(c->values(), std::vector<float>(12, 22.0f)) << "a fresh vector when none waits";
}

// Released on another thread, as the device's are; a matrix holds exactly width times height values.
TEST(FloatMatrixPoolTest, ReleasesOnOtherThreadsDroppedFramesSizesAndMatricesOutlivingThePool) {
  auto pool = FloatMatrixPool::create(3);
  std::vector<FloatMatrixPtr> inFlight;
  for (int i = 0; i < 8; ++i) inFlight.push_back(frame(*pool, static_cast<float>(i)));
  std::thread([&inFlight] { inFlight.clear(); }).join();
  EXPECT_EQ(pool->waiting(), 3u) << "more than the bound are freed";
  EXPECT_EQ(frame(*pool, 9.0f, 5, 5)->values(), std::vector<float>(25, 9.0f)) << "another frame size";
  pool->giveBack(pool->take(12));
  EXPECT_EQ(pool->waiting(), 3u);
  EXPECT_THROW(pool->matrix(0, pool->take(11), 4, 3), std::invalid_argument);
  EXPECT_THROW(FloatMatrix::create(0, std::vector<float>(5), 3, 2), std::invalid_argument);
  EXPECT_NO_THROW(FloatMatrix::create(0, {}, 0, 7));

  FloatMatrixPtr survivor = frame(*pool, 5.0f);
  pool.reset();  // the event stream goes while a host step still holds a matrix
  EXPECT_EQ(survivor->values(), std::vector<float>(12, 5.0f));
}

const char* const kDroppedText =
    " User data packet dropped due packet or container size limitations. Passed packet size = ";

class BufferSenderTest : public ::testing::Test {
 protected:
  CapturingLogger logger;
  Talvo::LoggerOwner owner{&logger, ""};
  FramesStatistic statistic{"video", nullptr};
  BufferSender sender{owner, &statistic, true};

  void userData(size_t size) { sender.handleInfo(Info::UserData{std::vector<uint8_t>(size, 0x5a)}); }
  std::vector<std::string> droppedLines() const {
    std::vector<std::string> lines;
    for (const auto& line : logger.lines())
      if (line.message.rfind(kDroppedText, 0) == 0) {
        EXPECT_EQ(line.level, 2);
        lines.push_back(line.message);
      }
    return lines;
  }
};

TEST_F(BufferSenderTest, KeyFrameEndsOutOfSyncTimeStampIsKeptOtherInformationIgnored) {
  sender.handleInfo(Info::StreamOutOfSync{});
  sender.handleInfo(Info::SetKeyFrame{false});
  EXPECT_TRUE(sender.outOfSync());
  EXPECT_FALSE(sender.waitForKeyFrame());
  EXPECT_EQ(statistic.totalOutOfSync(), 1u);
  sender.handleInfo(Info::SetKeyFrame{true});
  EXPECT_FALSE(sender.outOfSync());
  EXPECT_TRUE(sender.waitForKeyFrame());
  for (const boost::any& other : {boost::any(Info::SetBitrate{64000}), boost::any(std::string("x")), boost::any()})
    sender.handleInfo(other);
  sender.handleInfo(Info::SetTimeStamp{1767225600123ull});
  EXPECT_EQ(sender.timeStamp(), 1767225600123ull);
  EXPECT_FALSE(sender.outOfSync());
  EXPECT_TRUE(sender.pendingUserData().empty());

  // Without logger or statistic the events are still counted.
  BufferSender bare(Talvo::LoggerOwner(static_cast<Talvo::ILogger*>(nullptr), ""), nullptr, true);
  for (int i = 0; i < 5; ++i) bare.handleInfo(Info::StreamOutOfSync{});
  bare.handleInfo(Info::UserData{std::vector<uint8_t>(1048577)});
  EXPECT_EQ(bare.outOfSyncEvents(), 5u);
  EXPECT_TRUE(bare.outOfSync() && bare.pendingUserData().empty());
}

// An empty packet, or any while user data is disabled, is not kept.
TEST_F(BufferSenderTest, UserDataCapsPacketsAtOneMebibyteAndTheListAt1001) {
  for (const size_t size : {1048576, 1048577, 0}) userData(size);
  EXPECT_EQ(droppedLines(), std::vector<std::string>{std::string(kDroppedText) + "1048577 container size = 1"});
  EXPECT_EQ(sender.takePendingUserData(),
            std::deque<BufferSender::UserDataPacket>{std::vector<uint8_t>(1048576, 0x5a)});
  for (int i = 0; i < 1002; ++i) userData(3);
  EXPECT_EQ(sender.pendingUserData().size(), 1001u);
  EXPECT_EQ(droppedLines().back(), std::string(kDroppedText) + "3 container size = 1001");
  // Once the playback path takes them, packets are accepted again.
  EXPECT_EQ(sender.takePendingUserData().size(), 1001u);
  userData(3);
  EXPECT_EQ(sender.pendingUserData().size(), 1u);
  sender.setUserDataEnabled(false);
  for (int i = 0; i < 2000; ++i) userData(16);
  EXPECT_EQ(sender.pendingUserData().size(), 1u);
  EXPECT_EQ(droppedLines().size(), 2u);
}

// The collapser counts per message for the whole process: the test sends events until the line
// appears, then proves the next appears exactly 1000 events later.
TEST_F(BufferSenderTest, OutOfSyncLineIsWrittenOncePerThousandEvents) {
  const std::string collapsed = " [collapsed 1000]Stream out of sync.";
  int sent = 0;
  for (; logger.count(collapsed) == 0 && sent < 1000; ++sent) sender.handleInfo(Info::StreamOutOfSync{});
  ASSERT_EQ(logger.count(collapsed), 1u) << "no line within 1000 events";
  for (int i = 0; i < 999; ++i) sender.handleInfo(Info::StreamOutOfSync{});
  EXPECT_EQ(logger.count(collapsed), 1u);
  sender.handleInfo(Info::StreamOutOfSync{});
  EXPECT_EQ(logger.count(collapsed), 2u);
  for (const auto& line : logger.lines())
    EXPECT_EQ(std::to_string(line.level) + " " + line.file + " " + line.function + line.message,
              "0 Nuvlet/include/BufferSender handleInfo" + collapsed);
  EXPECT_EQ(statistic.totalOutOfSync(), static_cast<uint64_t>(sent + 1000));
  EXPECT_EQ(sender.outOfSyncEvents(), static_cast<uint64_t>(sent + 1000));
}

TEST(AudioBufferG7xxSendingFilter, AllocatesWithItsParametersAndSwapsSampleBytesOnlyWhenConverting) {
  TestFrameFactory factory;
  AudioBufferG7xxSendingFilter filter(&factory, MFF::AUDIO_G7XX_ENCODING_ULAW);
  filter.setBitRate(64000);
  filter.setTimeStamp(1767225600500ull);
  MFF::IAudioBuffer* buffer = filter.allocate(320);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->GetSize(), 320u);
  buffer->Destroy();
  EXPECT_EQ(factory.lastAudioFormat + " " + std::to_string(factory.lastAudioTimeStamp) + " " +
                std::to_string(factory.lastAudioBitRate),
            "G.711 1767225600500 64000");
  EXPECT_EQ(factory.lastAudioEncoding, MFF::AUDIO_G7XX_ENCODING_ULAW);
  factory.giveAudioBuffers = false;
  EXPECT_EQ(filter.allocate(160), nullptr);

  AudioBufferG7xxSendingFilter linear(static_cast<MFF::IMultimediaFrameFactory*>(nullptr),
                                      MFF::AUDIO_G7XX_ENCODING_LINEAR);
  EXPECT_EQ(linear.allocate(80), nullptr) << "no factory, no buffer";
  const std::vector<uint8_t> samples{0x01, 0x02, 0x03, 0x04, 0x05};
  std::vector<uint8_t> out(samples.size());
  linear.copyPayload(samples.data(), samples.size(), out.data());
  EXPECT_EQ(out, samples);
  linear.setConvertLEToBE(true);
  linear.copyPayload(samples.data(), samples.size(), out.data());
  EXPECT_EQ(out, (std::vector<uint8_t>{0x02, 0x01, 0x04, 0x03, 0x05}));
}

}  // namespace
