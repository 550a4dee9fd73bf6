// The boards with fixed pins ("ZL232" on the serial port, "IO" on the bus) against the camera
// simulator: the profiles they define (exact requests) and those they find, inputs and outputs
// from the live stream's event section, outputs switched through the signal-output profiles,
// and a second Start.
#include "IODeviceProfileBasedClassic.h"

#include <string>
#include <vector>

#include "IOFixture.h"

namespace {

struct BoardDefinitions {
  uint32_t index;
  std::vector<std::string> events;    // "/control/control?set&section=event_sig&sig=..."
  std::vector<std::string> profiles;  // "/admin/control?set&section=signaloutprofiles&profile=..."
};

std::string event(const std::string& name, const char* sensor, const std::string& in, const std::string& out,
                  const char* trigger) {
  return "/control/control?set&section=event_sig&sig=" + name + ":_profilename=" + name +
         ":sig_dead=0:sig_sens=" + sensor + ":si_pin=" + in + ":so_pin=" + out + ":sio_trigger=" + trigger +
         ":sio_time=0";
}

std::string profile(const std::string& name, const std::string& pin, const char* state) {
  return "/admin/control?set&section=signaloutprofiles&profile=" + name + ":_profilename=" + name + ":so_pin=" + pin +
         ":so_state=" + state + ":so_time=1";
}

const std::vector<BoardDefinitions>& definitions() {
  static const std::vector<BoardDefinitions> boards = {
      {IOTest::kZl232,
       {event("ZL232_SI0", "si", "mo,29", "mo,7", "close"), event("ZL232_SI1", "si", "mo,30", "mo,8", "close"),
        event("ZL232_SO0", "so", "mo,29", "mo,7", "open"), event("ZL232_SO1", "so", "mo,30", "mo,8", "open")},
       {profile("ZL232_SO0_ON", "mo,7", "toggle_on"), profile("ZL232_SO0_OFF", "mo,7", "toggle_off"),
        profile("ZL232_SO1_ON", "mo,8", "toggle_on"), profile("ZL232_SO1_OFF", "mo,8", "toggle_off")}},
      // Four pins in the repository, two on the board: the others get empty pin names.
      {IOTest::kBusIO,
       {event("IO_SI0", "si", "kio,1", "kio,1", "close"), event("IO_SI1", "si", "kio,2", "kio,2", "close"),
        event("IO_SI2", "si", "", "", "close"), event("IO_SI3", "si", "", "", "close"),
        event("IO_SO0", "so", "kio,1", "kio,1", "open"), event("IO_SO1", "so", "kio,2", "kio,2", "open"),
        event("IO_SO2", "so", "", "", "open"), event("IO_SO3", "so", "", "", "open")},
       {profile("IO_SO0_ON", "kio,1", "toggle_on"), profile("IO_SO0_OFF", "kio,1", "toggle_off"),
        profile("IO_SO1_ON", "kio,2", "toggle_on"), profile("IO_SO1_OFF", "kio,2", "toggle_off"),
        profile("IO_SO2_ON", "", "toggle_on"), profile("IO_SO2_OFF", "", "toggle_off"),
        profile("IO_SO3_ON", "", "toggle_on"), profile("IO_SO3_OFF", "", "toggle_off")}},
  };
  return boards;
}

// Each board defines what the camera lacks, and on the next start finds all of it.
TEST_F(IOTest, DefinesTheMissingProfilesOfEachBoardAndFindsThemLater) {
  for (const BoardDefinitions& board : definitions()) {
    SCOPED_TRACE(board.index);
    camera.clearRequests();
    ASSERT_NE(createChannel(board.index), nullptr);
    const auto before = handler.reports();
    const long starts = std::count(before.begin(), before.end(), "started");
    startChannel(starts + 1);
    waitForRequests(board.events);
    waitForRequests(board.profiles);
    auto expectedEvents = board.events;
    auto expectedProfiles = board.profiles;
    std::sort(expectedEvents.begin(), expectedEvents.end());
    std::sort(expectedProfiles.begin(), expectedProfiles.end());
    EXPECT_EQ(requestsStartingWith("/control/control?set&section=event_sig"), expectedEvents);
    EXPECT_EQ(requestsStartingWith("/admin/control?set&section=signaloutprofiles"), expectedProfiles);

    io->Stop();
    ASSERT_TRUE(handler.waitForReport("stopped", starts + 1));
    startChannel(starts + 2);
    const std::string name = board.index == kZl232 ? "ZL232" : "IO";
    ASSERT_TRUE(logger.waitFor(" Profile " + name + "_SO1_OFF already defined", 10s));
    ASSERT_TRUE(logger.waitFor(" Event " + name + "_SO1 already defined", 10s));
    EXPECT_EQ(count("/control/control?set&section=event_sig"), board.events.size());
    EXPECT_EQ(count("/admin/control?set&section=signaloutprofiles"), board.profiles.size());
    io->Destroy();
    io = nullptr;
    ASSERT_TRUE(handler.waitForReport("stopped", starts + 2));
  }
  EXPECT_TRUE(logger.contains(" Unexpected input pin number 2"));
  EXPECT_EQ(levelOf(" Unexpected output pin number 3"), 0);
}

// The stream's event section lists the board's events: each change reaches the host once;
// outputs are switched by the signal-output profiles and seen in the section too.
TEST_F(IOTest, InputsAndOutputsFromTheLiveStreamsEventSection) {
  ASSERT_NE(createChannel(kZl232), nullptr);
  startChannel();
  waitForRequests({"/control/control?set&section=event_sig&sig=ZL232_SI1",
                   "/admin/control?set&section=signaloutprofiles&profile=ZL232_SO1_ON"});
  startStream();
  camera.get("/sim/io?board=ZL232&input=1&state=1");
  ASSERT_TRUE(handler.waitForReport("input 1 on"));
  EXPECT_GT(handler.inputTime(), 1500000000000u) << "the camera's time, in ms";

  io->SetOutput(&handler, 1, true);
  ASSERT_TRUE(handler.waitForReport("output_state 1 on"));
  EXPECT_TRUE(camera.waitForRequest("/control/rcontrol?action=sigout&name=ZL232_SO1_ON", 1, 1s));
  EXPECT_NE(camera.get("/sim/io").find("\"ZL232\":{\"inputs\":[false,true],\"outputs\":[false,true]}"),
            std::string::npos);
  io->SetOutput(&handler, 2, true);  // the board has two outputs
  camera.get("/sim/io?board=ZL232&input=1&state=0");
  ASSERT_TRUE(handler.waitForReport("input 1 off"));
  auto reports = handler.reports();
  std::sort(reports.begin(), reports.end());
  EXPECT_EQ(reports, (std::vector<std::string>{"input 1 off", "input 1 on", "output 0", "output 6", "output_state 1 on",
                                               "started"}))
      << "the same list in every picture reports nothing again";
  EXPECT_EQ(logger.count(" Event ZL232_SI1, Ray 1 changed value to 1"), 1u);
}

// A Stop before the first Start is answered with Stopped. A second Start warns and answers
// Started again; the profiles are not read twice. An output asked for at once waits for its profile.
TEST_F(IOTest, ASecondStartWarnsAndAnEarlyOutputWaitsForItsProfile) {
  ASSERT_NE(createChannel(kBusIO), nullptr);
  io->Stop();
  ASSERT_TRUE(handler.waitForReport("stopped"));
  io->Start();
  io->SetOutput(&handler, 3, true);
  io->Start();
  ASSERT_TRUE(handler.waitForReport("started", 2));
  EXPECT_EQ(levelOf(" Attempt to start already started device"), 3);
  ASSERT_TRUE(handler.waitForReport("output 0")) << logger.dump();
  const auto targets = camera.requestTargets();
  const auto at = [&](const std::string& target) { return std::find(targets.begin(), targets.end(), target); };
  EXPECT_LT(at("/admin/control?set&section=signaloutprofiles&profile=IO_SO3_ON:_profilename=IO_SO3_ON:so_pin=:so_state="
               "toggle_on:so_time=1"),
            at("/control/rcontrol?action=sigout&name=IO_SO3_ON"));
  EXPECT_EQ(count("/control/control?read&section=event_sig&sig"), 1u);
}

}  // namespace
