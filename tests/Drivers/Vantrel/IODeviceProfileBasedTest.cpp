// The boards with fixed pins ("ZL232" on the serial port, "IO" on the bus) against the camera
// simulator: the profiles they define and find, inputs and outputs through the event section.
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

// The event and output profiles of a board whose pins i carry input in[i] and output out[i].
BoardDefinitions boardDefinitions(uint32_t index, const std::string& name, const std::vector<std::string>& in,
                                  const std::vector<std::string>& out) {
  BoardDefinitions made{index, {}, {}};
  for (const char* kind : {"SI", "SO"})
    for (size_t i = 0; i < in.size(); ++i) {
      const std::string event = name + "_" + kind + std::to_string(i);
      made.events.push_back("/control/control?set&section=event_sig&sig=" + event + ":_profilename=" + event +
                            ":sig_dead=0:sig_sens=" + (kind[1] == 'I' ? "si" : "so") + ":si_pin=" + in[i] + ":so_pin=" +
                            out[i] + ":sio_trigger=" + (kind[1] == 'I' ? "close" : "open") + ":sio_time=0");
    }
  for (size_t i = 0; i < out.size(); ++i)
    for (const std::string state : {"on", "off"}) {
      const std::string profile = name + "_SO" + std::to_string(i) + (state == "on" ? "_ON" : "_OFF");
      made.profiles.push_back("/admin/control?set&section=signaloutprofiles&profile=" + profile + ":_profilename=" +
                              profile + ":so_pin=" + out[i] + ":so_state=toggle_" + state + ":so_time=1");
    }
  std::sort(made.events.begin(), made.events.end());
  std::sort(made.profiles.begin(), made.profiles.end());
  return made;
}

// Each board defines what the camera lacks, and on the next start finds all of it.
TEST_F(IOTest, DefinesTheMissingProfilesOfEachBoardAndFindsThemLater) {
  // Four pins in the repository, two on the IO board: the others get empty pin names.
  for (const BoardDefinitions& board :
       {boardDefinitions(kZl232, "ZL232", {"mo,29", "mo,30"}, {"mo,7", "mo,8"}),
        boardDefinitions(kBusIO, "IO", {"kio,1", "kio,2", "", ""}, {"kio,1", "kio,2", "", ""})}) {
    SCOPED_TRACE(board.index);
    camera.clearRequests();
    ASSERT_NE(createChannel(board.index), nullptr);
    const auto before = handler.reports();
    const long starts = std::count(before.begin(), before.end(), "started");
    startChannel(starts + 1);
    waitForRequests(board.events);
    waitForRequests(board.profiles);
    EXPECT_EQ(requestsStartingWith("/control/control?set&section=event_sig"), board.events);
    EXPECT_EQ(requestsStartingWith("/admin/control?set&section=signaloutprofiles"), board.profiles);

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
