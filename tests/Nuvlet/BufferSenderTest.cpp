// The buffer sender's handling of stream information: key frames and synchronisation, time
// stamps, the capped user-data list and the collapsed out-of-sync line.
#include <cstdint>
#include <string>
#include <vector>

#include <boost/any.hpp>
#include <gtest/gtest.h>

#include "CapturingLogger.h"
#include "Nuvlet/include/BufferSender.h"
#include "host/Nuvlet/Statistics.h"

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
  EXPECT_TRUE(sender.outOfSync());
  EXPECT_EQ(statistic.totalOutOfSync(), 1u);
  sender.handleInfo(Info::SetKeyFrame{false});
  EXPECT_TRUE(sender.outOfSync());
  EXPECT_FALSE(sender.waitForKeyFrame());
  sender.handleInfo(Info::SetKeyFrame{true});
  EXPECT_FALSE(sender.outOfSync());
  EXPECT_TRUE(sender.waitForKeyFrame());

  sender.handleInfo(Info::SetTimeStamp{1767225600123ull});
  sender.handleInfo(Info::SetBitrate{64000});
  sender.handleInfo(boost::any(std::string("not information")));
  sender.handleInfo(boost::any());
  EXPECT_EQ(sender.timeStamp(), 1767225600123ull);
  EXPECT_FALSE(sender.outOfSync());
  EXPECT_TRUE(sender.pendingUserData().empty());
}

TEST_F(BufferSenderTest, UserDataCapsPacketsAtOneMebibyteAndTheListAt1001) {
  userData(1048576);
  userData(1048577);
  ASSERT_EQ(sender.pendingUserData().size(), 1u);
  EXPECT_EQ(sender.pendingUserData().front().size(), 1048576u);
  EXPECT_EQ(droppedLines(), std::vector<std::string>{std::string(kDroppedText) + "1048577 container size = 1"});
  EXPECT_EQ(sender.takePendingUserData().size(), 1u);

  for (int i = 0; i < 1001; ++i) userData(3);
  EXPECT_EQ(sender.pendingUserData().size(), 1001u);
  EXPECT_EQ(droppedLines().size(), 1u);
  userData(3);
  EXPECT_EQ(sender.pendingUserData().size(), 1001u);
  EXPECT_EQ(droppedLines().back(), std::string(kDroppedText) + "3 container size = 1001");

  // Once the playback path takes them, packets are accepted again.
  EXPECT_EQ(sender.takePendingUserData().size(), 1001u);
  userData(3);
  EXPECT_EQ(sender.pendingUserData().size(), 1u);
}

TEST_F(BufferSenderTest, UserDataIsNotKeptWhenDisabledNorWhenEmpty) {
  sender.setUserDataEnabled(false);
  for (int i = 0; i < 2000; ++i) userData(16);
  EXPECT_TRUE(sender.pendingUserData().empty());
  EXPECT_TRUE(droppedLines().empty());

  sender.setUserDataEnabled(true);
  userData(0);
  EXPECT_TRUE(sender.pendingUserData().empty());
  userData(2);
  ASSERT_EQ(sender.pendingUserData().size(), 1u);
  EXPECT_EQ(sender.pendingUserData().front(), (std::vector<uint8_t>{0x5a, 0x5a}));
}

// The collapser counts per message for the whole process, so the test first finds where its
// count stands: it sends events until the line appears, then proves the next appears exactly
// 1000 events later.
TEST_F(BufferSenderTest, OutOfSyncLineIsWrittenOncePerThousandEvents) {
  const std::string collapsed = " [collapsed 1000]Stream out of sync.";
  int sent = 0;
  while (logger.count(collapsed) == 0 && sent < 1000) {
    sender.handleInfo(Info::StreamOutOfSync{});
    ++sent;
  }
  ASSERT_EQ(logger.count(collapsed), 1u) << "no line within 1000 events";
  for (int i = 0; i < 999; ++i) sender.handleInfo(Info::StreamOutOfSync{});
  EXPECT_EQ(logger.count(collapsed), 1u);
  sender.handleInfo(Info::StreamOutOfSync{});
  EXPECT_EQ(logger.count(collapsed), 2u);

  for (const auto& line : logger.lines()) {
    EXPECT_EQ(line.level, 0);
    EXPECT_EQ(line.message, collapsed);
    EXPECT_EQ(line.function, "handleInfo");
    EXPECT_EQ(line.file, "Nuvlet/include/BufferSender");
  }
  EXPECT_EQ(statistic.totalOutOfSync(), static_cast<uint64_t>(sent + 1000));
  EXPECT_EQ(sender.outOfSyncEvents(), static_cast<uint64_t>(sent + 1000));
}

TEST_F(BufferSenderTest, OutOfSyncIsCountedWithoutLoggerOrStatistic) {
  CapturingLogger quiet(3);  // level 0 not allowed: nothing is formed or written
  BufferSender bare(Talvo::LoggerOwner(&quiet, ""), nullptr);
  for (int i = 0; i < 5; ++i) bare.handleInfo(Info::StreamOutOfSync{});
  EXPECT_TRUE(bare.outOfSync());
  EXPECT_EQ(bare.outOfSyncEvents(), 5u);
  EXPECT_TRUE(quiet.lines().empty());

  BufferSender noLogger(Talvo::LoggerOwner(static_cast<Talvo::ILogger*>(nullptr), ""), nullptr, true);
  noLogger.handleInfo(Info::StreamOutOfSync{});
  noLogger.handleInfo(Info::UserData{std::vector<uint8_t>(1048577)});
  EXPECT_TRUE(noLogger.outOfSync());
  EXPECT_TRUE(noLogger.pendingUserData().empty());
}

}  // namespace
