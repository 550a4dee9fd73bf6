// The classic I/O channel against the camera simulator: inputs as they change, outages, outputs
// and their limits, stopping from anywhere; and the signal-lines answer.
#include "IODevice.h"

#include "IOFixture.h"
#include "SignalLines.h"

namespace {

const char kSignalPoll[] = "/control/rcontrol?action=rs232sigin";

// Channel 0, the classic one.
class IODeviceTest : public IOTest {
 protected:
  void SetUp() override {
    IOTest::SetUp();
    ASSERT_NE(createChannel(0), nullptr);
  }
  void setLines(const std::string& query) { camera.get("/sim/io?" + query); }
};

// A Stop without a running worker (before the first Start, a second Stop) is answered with
// Stopped; inputs are reported as they change, one failure per outage and every input after it,
// and the next Start polls again.
TEST_F(IODeviceTest, InputsAsTheyChangeOneFailurePerOutageAndTheFullReportAfterIt) {
  setLines("rxd=1");
  io->Stop();
  ASSERT_TRUE(handler.waitForReport("stopped"));
  io->Start();
  EXPECT_EQ(handler.waitFor(3), (std::vector<std::string>{"stopped", "started", "input 0 on"}));
  setLines("rxd=0&dsr=1");
  ASSERT_TRUE(handler.waitForReport("input 2 on"));
  const size_t before = count(kSignalPoll);
  camera.fault("path=/control/rcontrol&status=500&count=3");
  ASSERT_TRUE(handler.waitForReport("input 2 on", 2));
  EXPECT_GE(count(kSignalPoll) - before, 4u);
  io->Stop();
  io->Stop();
  ASSERT_TRUE(handler.waitForReport("stopped", 3));
  setLines("rxd=1");
  io->Start();
  EXPECT_EQ(handler.waitFor(13),
            (std::vector<std::string>{"stopped", "started", "input 0 on", "input 0 off", "input 2 on", "failed 500",
                                      "input 0 off", "input 1 off", "input 2 on", "stopped", "stopped", "started",
                                      "input 0 on"}))
      << "three refused polls, one failure, then every input once";
}

// Switches while running reach the camera (6 beyond the one output); one asked while the
// channel does not run is answered 12 at once, since no worker would ever take it.
TEST_F(IODeviceTest, OutputsWithinTheCountReachTheCameraOthersGive6AndStoppedOnesGive12) {
  io->SetOutput(&handler, 0, true);
  EXPECT_EQ(handler.reports(), std::vector<std::string>{"output 12"}) << "before the first Start";
  io->Start();
  io->SetOutput(&handler, 0, true);
  io->SetOutput(&handler, 1, false);  // VX-IO60's classic channel has one output
  EXPECT_EQ(handler.waitFor(4), (std::vector<std::string>{"output 12", "started", "output 0", "output 6"}));
  EXPECT_NE(camera.get("/sim/io").find("\"output\":true"), std::string::npos);
  EXPECT_EQ(camera.requestTargets("/control/rcontrol?action=sigout"),
            std::vector<std::string>{"/control/rcontrol?action=sigouthigh"});
  io->Stop();
  ASSERT_TRUE(handler.waitForReport("stopped"));
  io->SetOutput(&handler, 0, false);
  EXPECT_EQ(handler.reports().back(), "output 12") << "after Stop";
}

// Any value but "0" makes a line active; an answer that does not hold the lines ("RXD = 1": a
// blank too many) changes nothing and is logged once per 30 s; a poll the camera never answers
// fails with 256.
TEST_F(IODeviceTest, ALineIsActiveUnlessItIsZeroAndNoAnswerIs256) {
  setLines("raw=RXD%20%3D2%0D%0ACTS%20%3D00%0D%0ADSR%20%3D0%0D%0A");
  io->Start();
  EXPECT_EQ(handler.waitFor(3), (std::vector<std::string>{"started", "input 0 on", "input 1 on"}));
  setLines("raw=RXD%20%3D%200%0D%0ACTS%20%3D0%0D%0ADSR%20%3D0%0D%0A");
  ASSERT_TRUE(camera.waitForRequest(kSignalPoll, count(kSignalPoll) + 3, 10s));
  EXPECT_EQ(logger.count(" Input data does not match the specified structure"), 1u);
  camera.fault("path=/control/rcontrol&close=1&count=2");
  EXPECT_EQ(handler.waitFor(4), (std::vector<std::string>{"started", "input 0 on", "input 1 on", "failed 256"}));
}

// Stop and Destroy from the channel's own input report: nothing more reaches the host after
// Stopped, and the channel goes when its worker ends.
TEST_F(IODeviceTest, StopAndDestroyFromAnInputReport) {
  setLines("rxd=1&cts=1");
  handler.onInput = [this](Talvo::IContract*) {
    io->Stop();
    io->Destroy();
    io = nullptr;
  };
  auto* running = io;
  running->Start();
  EXPECT_EQ(handler.waitFor(3), (std::vector<std::string>{"started", "input 0 on", "stopped"}));
}

// The camera's answer names three lines: a model listing four inputs gets the three, and a
// warning once.
TEST_F(IOTest, AModelWithMoreInputsThanLinesReportsTheThreeLines) {
  useIOParameters(0, {{"rayCount", 4}, {"relayCount", 1}});
  camera.get("/sim/io?rxd=1&cts=1&dsr=1");
  ASSERT_NE(createChannel(0), nullptr);
  startChannel();
  ASSERT_TRUE(camera.waitForRequest(kSignalPoll, 3, 10s));
  EXPECT_EQ(handler.reports(), (std::vector<std::string>{"started", "input 0 on", "input 1 on", "input 2 on"}));
  EXPECT_EQ(logger.count(" The model lists 4 inputs, the camera's answer carries 3: inputs from 3 on are not reported"),
            1u);
}

TEST(SignalLines, FindsTheThreeLinesAnywhereInTheAnswer) {
  using Lines = std::array<std::string, 3>;
  EXPECT_EQ(Vantrel::readSignalLines("RXD =1\r\nCTS =0\r\nDSR =0\r\n"), (Lines{"1", "0", "0"}));
  EXPECT_EQ(Vantrel::readSignalLines("head\nRXD =12\nCTS =0\nDSR =7"), (Lines{"12", "0", "7"}));
  EXPECT_EQ(Vantrel::readSignalLines("RXD =1x\r\nRXD =0\r\nCTS =1\r\nDSR =0\r\n"), (Lines{"0", "1", "0"}));
  for (const char* bad : {"", "RXD = 1\r\nCTS =0\r\nDSR =0\r\n", "RXD =1\r\nCTS =0\r\n", "RXD =\r\nCTS =0\r\nDSR =0",
                          "RXD =1\r\nDSR =0\r\nCTS =0\r\n", "RXD =1\rCTS =0\rDSR =0\r"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(Vantrel::readSignalLines(bad));
  }
}

}  // namespace
