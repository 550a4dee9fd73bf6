// The generic RS-232 box against the camera simulator: its message table, the AN<n><k>H/L event
// profiles, inputs from the event section, outputs by message, and the checks that stop a start.
#include "IODeviceZl232Gen.h"

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "IOFixture.h"

namespace {

const char kSerial[] = "zl0012345";  // the simulator's VX-IO60 box

std::string messageProfile(const std::string& profile, const std::string& message) {
  return "/control/control?set&section=event_msg&msg=" + profile + ":_profilename=" + profile +
         ":msg_dead=5:msg_sens=ms:match=strcmp:case=0:message=:sender=:ev_name=" + message +
         ":ev_range=global:ev_match=none:ev_data=";
}

TEST_F(IOTest, GenericBoxGetsItsMessageTableAndProfilesAndReportsItsInputs) {
  ASSERT_NE(createChannel(kGeneric), nullptr);
  startChannel();
  const std::string serial = kSerial;
  const std::vector<std::string> profiles = {
      messageProfile("AN11H", serial + "_i1_H"), messageProfile("AN11L", serial + "_i1_L"),
      messageProfile("AN12H", serial + "_i2_H"), messageProfile("AN12L", serial + "_i2_L")};
  waitForRequests(profiles);
  EXPECT_EQ(requestsStartingWith("/control/control?set&section=event_msg"), profiles);
  EXPECT_TRUE(logger.contains(" Board 1 found on device, serial = 'zl0012345', initialized=0"));
  EXPECT_TRUE(logger.contains(" Boards found: 1"));
  EXPECT_TRUE(logger.contains(" Board 0 initialization was finished successfully"));
  EXPECT_EQ(levelOf(" Started"), 0);

  // The table the box got: ten messages with the box's prefix, rules for both inputs and outputs.
  const auto config = nlohmann::json::parse(
      camera.request("/api/json/config/ZL_232_IO_Box", "Authorization: Basic YWRtaW46czNjckB0\r\n")
          .body)[serial]["MessageConfig"];
  std::vector<std::string> messages;
  for (const auto& message : config.at("Messages"))
    messages.push_back(message.value("Name", "") + " " + message.value("Dir", "") + " " + message.value("Range", "") +
                       " '" + message.value("Sig", "?") + "'");
  std::vector<std::string> expected;
  for (const char* name :
       {"i1_H", "i1_L", "i2_H", "i2_L", "o1_on", "o1_off", "o2_on", "o2_off", "o1_on_1sec", "o2_on_1sec"})
    expected.push_back(serial + "_" + name + " BI global ''");
  EXPECT_EQ(messages, expected);
  EXPECT_EQ(config.at("STM").at("Init").size(), 2u);
  EXPECT_EQ(config.at("STM").at("Rules").size(), 10u);

  startStream();
  const std::pair<const char*, const char*> changes[] = {
      {"input=1&state=1", "input 1 on"}, {"input=1&state=0", "input 1 off"}, {"input=0&state=1", "input 0 on"}};
  for (const auto& change : changes) {
    camera.get(std::string("/sim/io?board=zl0012345&") + change.first);
    ASSERT_TRUE(handler.waitForReport(change.second));
  }
  // The simulated box runs the table's rules: the outputs move only as the rules say.
  io->SetOutput(&handler, 0, true);
  io->SetOutput(&handler, 2, true);
  ASSERT_TRUE(handler.waitForReport("output 6"));
  ASSERT_TRUE(handler.waitForReport("output 0"));
  EXPECT_TRUE(camera.waitForRequest("/control/rcontrol?action=message&name=zl0012345_o1_on", 1, 1s));
  EXPECT_NE(camera.get("/sim/io").find("\"zl0012345\":{\"inputs\":[true,false],\"outputs\":[true,false]}"),
            std::string::npos)
      << camera.get("/sim/io");

  // A later start finds the box initialized and the profiles defined.
  io->Stop();
  ASSERT_TRUE(handler.waitForReport("stopped"));
  startChannel(2);
  EXPECT_TRUE(logger.contains(" Looks like board zl0012345 has been already initialized"));
  EXPECT_TRUE(logger.contains(" Event AN12L for message zl0012345_i2_L already defined"));
  EXPECT_EQ(count("/control/control?set&section=event_msg"), 4u);
  EXPECT_EQ(count("/api/json/config/ZL_232_IO_Box/"), 1u) << "the table is written once";
}

// The serial comes from the camera: with '/', '&' and '?' in it, it stays inside its value.
TEST_F(IOTest, GenericBoxSerialIsEncodedInEveryRequest) {
  camera.get("/sim/json?path=/api/json/config/ZL_232_IO_Box&body=%7B%22a%2Fb%26c%3Fd%22%3A%7B%7D%7D");
  ASSERT_NE(createChannel(kGeneric), nullptr);
  startChannel();
  const std::string serial = "a%2Fb%26c%3Fd";
  waitForRequests({"/api/json/config/ZL_232_IO_Box/" + serial + "/MessageConfig",
                   messageProfile("AN11H", serial + "_i1_H"), messageProfile("AN12L", serial + "_i2_L")});
  io->SetOutput(&handler, 0, true);
  EXPECT_TRUE(camera.waitForRequest("/control/rcontrol?action=message&name=" + serial + "_o1_on", 1, 10s));
}

struct StoppedStart {
  std::vector<std::pair<std::string, int>> parameters;
  std::string boxes;  // the camera's board list; empty: the simulator's own
  std::string message;
};

// Each of these ends the start with a message and without Started.
TEST_F(IOTest, GenericBoxStartStopsWithoutIndexWithoutA2x2BoxOrWithoutTheBoard) {
  const std::vector<StoppedStart> cases = {
      {{{"rayCount", 2}, {"relayCount", 2}},
       "",
       " Property 'baseZl232GenIndex' is not defined for current device in rep"},
      {{{"rayCount", 2}, {"relayCount", 4}, {"baseZl232GenIndex", 0}},
       "",
       " driver developed for 2x2 devices, this device is 2x4"},
      {{{"rayCount", 2}, {"relayCount", 2}, {"baseZl232GenIndex", 1}}, "", " Board 1 is not defined on device"},
      {{{"rayCount", 2}, {"relayCount", 2}, {"baseZl232GenIndex", 0}}, "%7B%7D", " Board 0 is not defined on device"},
      {{{"rayCount", 2}, {"relayCount", 2}, {"baseZl232GenIndex", 0}},
       "not%20json",
       " Can not read parameters from JSON: "},
  };
  for (const StoppedStart& start : cases) {
    SCOPED_TRACE(start.message);
    useIOParameters(kGeneric, start.parameters);
    camera.get("/sim/json?path=/api/json/config/ZL_232_IO_Box&" +
               (start.boxes.empty() ? std::string("reset=1") : "body=" + start.boxes));
    ASSERT_NE(createChannel(kGeneric), nullptr);
    io->Start();
    ASSERT_TRUE(logger.waitFor(start.message, 10s)) << logger.dump();
    EXPECT_EQ(levelOf(start.message), 3);
    io->Destroy();
    io = nullptr;
    ASSERT_TRUE(handler.waitForReport("stopped", static_cast<long>(&start - &cases[0]) + 1));
  }
  const auto reports = handler.reports();
  EXPECT_EQ(std::count(reports.begin(), reports.end(), "started"), 0);
  EXPECT_EQ(count("/control/control?set&section=event_msg"), 0u);
}

}  // namespace
