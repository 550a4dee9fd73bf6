// The I/O manager: event lists from the stream's pictures handed to the boards in order, and the
// answer checks of the boards' requests.
#include "IODeviceProfileBasedMngr.h"

#include <string>
#include <vector>

#include "IOFixture.h"

namespace {

// Sections of the followed channel reach the board in order (names trimmed, the picture's own
// bytes before the section, the time's fraction in ms); a list seen before changes nothing; a
// section without a readable time of its own, and one of another channel, are ignored.
TEST_F(IOTest, EventListsReachTheBoardOnlyAsChanges) {
  ASSERT_NE(createChannel(kZl232), nullptr);
  startChannel();
  device->registerEventChannel(0);
  static const char kPicture[] = "\xFF\xD8\xFF\xE0\x00\x10JFIF\nTIT=1\n\xFF\xFE\x00\x40";
  const std::string picture(kPicture, sizeof(kPicture) - 1);
  const auto section = [](const std::string& list) { return "SECTION EVENT\r\nTIT=1000\r\nEST=" + list + "\r\n"; };
  device->processEventFrame(0, section("ZL232_SI0,OTHER"));
  device->processEventFrame(0, section("ZL232_SI0,OTHER"));
  for (const std::string& noTime :
       {std::string("SECTION EVENT\r\nEST=\r\n"), picture + "SECTION EVENT\r\nEST=\r\n",
        std::string("SECTION EVENT\r\nTIT=12a\r\n"), std::string("SECTION EVENT\r\nTIT=1.\r\n"),
        std::string("SECTION EVENT\r\nTIT=99999999999999999999\r\n")})
    device->processEventFrame(0, noTime);
  device->processEventFrame(1, section(""));  // not the followed channel
  device->processEventFrame(0, picture + "#:R9IMG\nSECTION EVENT\nEST= OTHER ,, ZL232_SO0,\nTIT=1000.25\n");
  device->processEventFrame(0, section("ZL232_SO0"));
  device->processEventFrame(0, section(""));
  ASSERT_TRUE(handler.waitForReport("output_state 0 off"));
  EXPECT_EQ(handler.reports(), (std::vector<std::string>{"started", "input 0 on", "output_state 0 on", "input 0 off",
                                                         "output_state 0 off"}));
  EXPECT_EQ(handler.inputTime(), 1000250u);
  EXPECT_EQ(logger.count(" Cannot get timestamp"), 5u);
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
