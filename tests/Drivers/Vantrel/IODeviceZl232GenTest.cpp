// The generic RS-232 box against the camera simulator: its serial in requests and the checks that
// stop a start. Its profiles, message table, inputs and outputs: IODeviceProfileBasedTest.
#include "IODeviceZl232Gen.h"

#include <string>
#include <vector>

#include "IOFixture.h"

namespace {

std::string messageProfile(const std::string& profile, const std::string& message) {
  return "/control/control?set&section=event_msg&msg=" + profile + ":_profilename=" + profile +
         ":msg_dead=5:msg_sens=ms:match=strcmp:case=0:message=:sender=:ev_name=" + message +
         ":ev_range=global:ev_match=none:ev_data=";
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
