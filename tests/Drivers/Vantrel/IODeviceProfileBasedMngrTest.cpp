// The I/O manager: the event section of the stream's pictures, event lists handed to the boards
// in order, and the answer checks of the boards' requests.
#include "IODeviceProfileBasedMngr.h"

#include <string>
#include <vector>

#include "EventSection.h"
#include "IOFixture.h"

namespace {

TEST(EventSection, ReadsTheTimeAndTheActiveEvents) {
  struct Case {
    std::string text;
    uint64_t timeMs;
    std::vector<std::string> events;
  };
  static const char kPicture[] = "\xFF\xD8\xFF\xE0\x00\x10JFIF\nTIT=1\n\xFF\xFE\x00\x40";
  const std::string picture(kPicture, sizeof(kPicture) - 1);
  const std::vector<Case> cases = {
      {"#:R9IMG\r\nSECTION EVENT\r\nTIT=1796601600\r\nEST=ZL232_SI0,IO_SO1\r\n",
       1796601600000u,
       {"ZL232_SI0", "IO_SO1"}},
      {picture + "#:R9IMG\nSECTION EVENT\nTIT=1796601600.25\nEST=\n", 1796601600250u, {}},
      {"SECTION EVENT\r\nEST= AN11H ,,AN12L,\r\nTIT=7", 7000u, {"AN11H", "AN12L"}},
      {"SECTION EVENT\r\nTIT=7\r\n", 7000u, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto section = Vantrel::readEventSection(c.text);
    ASSERT_TRUE(section);
    EXPECT_EQ(section->timeMs, c.timeMs);
    EXPECT_EQ(section->activeEvents, c.events);
  }
  // No time, or none readable (a TIT before the section is not its own).
  for (const std::string& text :
       {std::string("SECTION EVENT\r\nEST=AN11H\r\n"), picture + "SECTION EVENT\r\nEST=AN11H\r\n",
        std::string("SECTION EVENT\r\nTIT=\r\n"), std::string("SECTION EVENT\r\nTIT=12a\r\n"),
        std::string("SECTION EVENT\r\nTIT=1.\r\n"), std::string("SECTION EVENT\r\nTIT=99999999999999999999\r\n"),
        std::string()})
    EXPECT_FALSE(Vantrel::readEventSection(text)) << text;
}

// Sections of the followed channel reach the board in order; a list seen before changes
// nothing; a section without time and one of another channel are ignored.
TEST_F(IOTest, EventListsReachTheBoardOnlyAsChanges) {
  ASSERT_NE(createChannel(kZl232), nullptr);
  startChannel();
  device->registerEventChannel(0);
  const auto section = [](const std::string& list) { return "SECTION EVENT\r\nTIT=1000\r\nEST=" + list + "\r\n"; };
  device->processEventFrame(0, section("ZL232_SI0,OTHER"));
  device->processEventFrame(0, section("ZL232_SI0,OTHER"));
  device->processEventFrame(0, "SECTION EVENT\r\nEST=\r\n");  // no time: nothing changes
  device->processEventFrame(1, section(""));                  // not the followed channel
  device->processEventFrame(0, section("OTHER,ZL232_SO0"));
  device->processEventFrame(0, section("ZL232_SO0"));
  device->processEventFrame(0, section(""));
  ASSERT_TRUE(handler.waitForReport("output_state 0 off"));
  EXPECT_EQ(handler.reports(), (std::vector<std::string>{"started", "input 0 on", "output_state 0 on", "input 0 off",
                                                         "output_state 0 off"}));
  EXPECT_EQ(handler.inputTime(), 1000000u);
  EXPECT_EQ(logger.count(" Cannot get timestamp"), 1u);
  device->unregisterEventChannel(0);
}

// Refused answers are logged under the request's name; a refused read defines nothing, a refused
// output switch hands the camera's error to the host.
TEST_F(IOTest, RefusedAnswersAreLoggedUnderTheRequestName) {
  camera.fault("path=%2Fcontrol%2Fcontrol%3Fread%26section%3Devent_sig&status=500&count=1");
  camera.fault("path=/control/rcontrol&status=403&count=1");
  ASSERT_NE(createChannel(kZl232), nullptr);
  startChannel();
  io->SetOutput(&handler, 0, false);
  ASSERT_TRUE(handler.waitForReport("output 403"));
  waitForRequests({"/admin/control?set&section=signaloutprofiles&profile=ZL232_SO1_OFF"});
  EXPECT_TRUE(logger.contains(", request: io: 1, ZL232 Get event profiles"));
  EXPECT_TRUE(logger.contains(", request: io: 1, ZL232 Set relay 0 to 0"));
  EXPECT_EQ(count("/control/control?set&section=event_sig"), 0u);
}

}  // namespace
