// The boards against the camera simulator: those with fixed pins ("ZL232" on the serial port,
// "IO" on the bus) and the generic RS-232 box; the profiles they define and find, inputs and
// outputs through the event section.
#include "IODeviceProfileBasedClassic.h"

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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

std::string messageProfile(const std::string& profile, const std::string& message) {
  return "/control/control?set&section=event_msg&msg=" + profile + ":_profilename=" + profile +
         ":msg_dead=5:msg_sens=ms:match=strcmp:case=0:message=:sender=:ev_name=" + message +
         ":ev_range=global:ev_match=none:ev_data=";
}

// Each board defines what the camera lacks, and on the next start finds all of it. The stream's
// event section lists the board's events: each change reaches the host once (the same list in
// every picture reports nothing again); outputs are switched by the board's signal-output
// profiles or, on the generic box, by the messages whose rules the simulated box runs; an output
// beyond the board's two gives 6.
TEST_F(IOTest, EachBoardDefinesWhatTheCameraLacksAndReportsItsInputsAndOutputs) {
  const std::string serial = "zl0012345";  // the simulator's generic box
  struct Case {
    BoardDefinitions defined;
    std::vector<std::string> found;                            // logged at the second start
    std::vector<std::pair<std::string, std::string>> changes;  // /sim/io query, report
    std::string switched;                                      // the request of SetOutput(`output`, true)
    uint32_t output;
    std::string state;  // the board in /sim/io afterwards
  };
  // Four pins in the repository, two on the IO board: the others get empty pin names.
  BoardDefinitions generic{kGeneric,
                           {messageProfile("AN11H", serial + "_i1_H"), messageProfile("AN11L", serial + "_i1_L"),
                            messageProfile("AN12H", serial + "_i2_H"), messageProfile("AN12L", serial + "_i2_L")},
                           {}};
  const Case cases[] = {
      {boardDefinitions(kZl232, "ZL232", {"mo,29", "mo,30"}, {"mo,7", "mo,8"}),
       {" Profile ZL232_SO1_OFF already defined", " Event ZL232_SO1 already defined"},
       {{"board=ZL232&input=1&state=1", "input 1 on"}, {"board=ZL232&input=1&state=0", "input 1 off"}},
       "/control/rcontrol?action=sigout&name=ZL232_SO1_ON",
       1,
       "\"ZL232\":{\"inputs\":[false,false],\"outputs\":[false,true]}"},
      {boardDefinitions(kBusIO, "IO", {"kio,1", "kio,2", "", ""}, {"kio,1", "kio,2", "", ""}),
       {" Profile IO_SO1_OFF already defined", " Event IO_SO1 already defined"},
       {},
       "",
       0,
       ""},
      {generic,
       {" Looks like board zl0012345 has been already initialized",
        " Event AN12L for message zl0012345_i2_L already defined"},
       {{"board=" + serial + "&input=1&state=1", "input 1 on"},
        {"board=" + serial + "&input=1&state=0", "input 1 off"},
        {"board=" + serial + "&input=0&state=1", "input 0 on"}},
       "/control/rcontrol?action=message&name=zl0012345_o1_on",
       0,
       "\"zl0012345\":{\"inputs\":[true,false],\"outputs\":[true,false]}"},
  };
  startStream();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.defined.index);
    camera.clearRequests();
    const auto before = handler.reports();
    const long starts = std::count(before.begin(), before.end(), "started");
    const auto waitForNew = [&](const std::string& report) {
      return handler.waitForReport(report, std::count(before.begin(), before.end(), report) + 1);
    };
    ASSERT_NE(createChannel(c.defined.index), nullptr);
    startChannel(starts + 1);
    waitForRequests(c.defined.events);
    waitForRequests(c.defined.profiles);
    EXPECT_EQ(requestsStartingWith(c.defined.index == kGeneric ? "/control/control?set&section=event_msg"
                                                               : "/control/control?set&section=event_sig"),
              c.defined.events);
    EXPECT_EQ(requestsStartingWith("/admin/control?set&section=signaloutprofiles"), c.defined.profiles);
    for (const auto& change : c.changes) {
      camera.get("/sim/io?" + change.first);
      ASSERT_TRUE(waitForNew(change.second)) << logger.dump();
    }
    if (!c.switched.empty()) {
      io->SetOutput(&handler, c.output, true);
      io->SetOutput(&handler, 2, true);
      ASSERT_TRUE(waitForNew("output 6"));
      ASSERT_TRUE(waitForNew("output 0"));
      EXPECT_TRUE(camera.waitForRequest(c.switched, 1, 10s));
      if (c.output) ASSERT_TRUE(waitForNew("output_state 1 on"));
      EXPECT_NE(camera.get("/sim/io").find(c.state), std::string::npos) << camera.get("/sim/io");
      auto reports = handler.reports();
      std::vector<std::string> expected{"started", "output 0", "output 6"};
      for (const auto& change : c.changes) expected.push_back(change.second);
      if (c.output) expected.push_back("output_state 1 on");
      std::sort(reports.begin() + before.size(), reports.end());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(std::vector<std::string>(reports.begin() + before.size(), reports.end()), expected);
    }
    if (c.defined.index == kGeneric) {
      // The table the box got: ten messages with the box's prefix, rules for both inputs and outputs.
      const auto config = nlohmann::json::parse(
          camera.request("/api/json/config/ZL_232_IO_Box", "Authorization: Basic YWRtaW46czNjckB0\r\n")
              .body)[serial]["MessageConfig"];
      std::vector<std::string> messages, expected;
      for (const auto& message : config.at("Messages"))
        messages.push_back(message.value("Name", "") + " " + message.value("Dir", "") + " " +
                           message.value("Range", "") + " '" + message.value("Sig", "?") + "'");
      for (const char* name :
           {"i1_H", "i1_L", "i2_H", "i2_L", "o1_on", "o1_off", "o2_on", "o2_off", "o1_on_1sec", "o2_on_1sec"})
        expected.push_back(serial + "_" + name + " BI global ''");
      EXPECT_EQ(messages, expected);
      EXPECT_EQ(config.at("STM").at("Init").size(), 2u);
      EXPECT_EQ(config.at("STM").at("Rules").size(), 10u);
    }
    io->Stop();
    ASSERT_TRUE(handler.waitForReport("stopped", starts + 1));
    startChannel(starts + 2);
    for (const auto& line : c.found) EXPECT_TRUE(logger.waitFor(line, 10s)) << line;
    EXPECT_EQ(count("/control/control?set&section=event_"), c.defined.events.size());
    EXPECT_EQ(count("/admin/control?set&section=signaloutprofiles"), c.defined.profiles.size());
    handler.destroyAndWait(io);
    io = nullptr;
  }
  EXPECT_TRUE(logger.contains(" Unexpected input pin number 2"));
  EXPECT_EQ(levelOf(" Unexpected output pin number 3"), 0);
  EXPECT_GT(handler.inputTime(), 1500000000000u) << "the camera's time, in ms";
  EXPECT_EQ(logger.count(" Event ZL232_SI1, Ray 1 changed value to 1"), 1u);
  EXPECT_EQ(count("/api/json/config/ZL_232_IO_Box/"), 1u) << "the generic box's table is written once";
  EXPECT_TRUE(logger.contains(" Board 1 found on device, serial = 'zl0012345', initialized=0"));
  EXPECT_TRUE(logger.contains(" Boards found: 1"));
  EXPECT_TRUE(logger.contains(" Board 0 initialization was finished successfully"));
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
