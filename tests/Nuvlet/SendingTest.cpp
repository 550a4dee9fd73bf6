// The sending side of a channel. The buffer sender's handling of stream information: key frames
// and synchronisation, time stamps, the capped user-data list and the collapsed out-of-sync line.
// The G.711 sending filter: the buffers it asks the host's factory for and the byte-order
// conversion of linear samples.
#include "CapturingLogger.h"
#include "Nuvlet/include/BufferSender.h"
#include "host/Nuvlet/Statistics.h"
#include "Nuvlet/include/AudioSendingFilter.h"
#include "TestChannels.h"

#include <gtest/gtest.h>

#include <boost/any.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Talvo::Utility::BufferSender;
namespace Info = Talvo::Utility::FilterInfo;

const char* const kDroppedText =
    " User data packet dropped due packet or container size limitations. Passed packet size = ";

class BufferSenderTest : public ::testing::Test {
 protected:
  CapturingLogger logger;
  Talvo::LoggerOwner owner{&logger, ""};
  Talvo::Utility::FramesStatistic statistic{"video", nullptr};
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

// A packet is capped at one mebibyte and the list at 1001 packets; an empty packet, or any while
// user data is disabled, is not kept.
TEST_F(BufferSenderTest, UserDataCapsPacketsAtOneMebibyteAndTheListAt1001) {
  userData(1048576);
  userData(1048577);
  userData(0);
  EXPECT_EQ(droppedLines(), std::vector<std::string>{std::string(kDroppedText) + "1048577 container size = 1"});
  const auto taken = sender.takePendingUserData();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken.front().size(), 1048576u);
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

// The collapser counts per message for the whole process, so the test first finds where its
// count stands: it sends events until the line appears, then proves the next appears exactly
// 1000 events later.
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

using Talvo::Utility::AudioBufferG7xxSendingFilter;
namespace MFF = Talvo::MFF;

// The buffers it asks the host's factory for, and the byte order of linear samples.
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
