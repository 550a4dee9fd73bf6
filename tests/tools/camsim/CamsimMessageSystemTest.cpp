// The simulated message system: profiles kept as state, a triggered event profile changing its
// message's time in the event-variable log, the control paths, and a camera reset.
#include <nlohmann/json.hpp>

#include "CamsimProcess.h"

#include <gtest/gtest.h>

namespace {

class CamsimMessageSystem : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(camsim_.stop(), 0); }
  std::string get(const std::string& target) { return camsim_.get(target); }
  nlohmann::json log() { return nlohmann::json::parse(get("/api/json/status/messagesystem/eventvariables/log")); }

  CamsimProcess camsim_;
};

TEST_F(CamsimMessageSystem, ATriggeredProfileSendsItsGroupsMessage) {
  get("/control/control?set&section=event_ima&ima=md1:_profilename=Hall:ima_dead=0:ima_sens=vm:vm_list=");
  get("/admin/control?set&section=msgsysprofiles&profile=md1:_profilename=md1:message=md1:range=local");
  get("/control/"
      "control?set&section=actions&ah2_name=md1&ah2_events=IMA,md1&ah2_subactions=0000:action=MS,md1:timeout=0");
  EXPECT_EQ(get("/control/control?read&section=event_ima&ima"),
            "ima=md1:_profilename=Hall:ima_dead=0:ima_sens=vm:vm_list=\r\n");
  EXPECT_EQ(get("/admin/control?read&section=msgsysprofiles&profile"),
            "profile=md1:_profilename=md1:message=md1:range=local\r\n");
  EXPECT_EQ(get("/control/control?read&section=actions&ah1_name&ah2_name"), "ah1_name=\r\nah2_name=md1\r\n");
  EXPECT_EQ(log(), nlohmann::json::array());

  EXPECT_EQ(camsim_.request("/sim/trigger?event=nothing").status, 404);
  ASSERT_EQ(get("/sim/trigger?event=md1"), "OK\r\n");
  ASSERT_EQ(get("/sim/trigger?event=md1"), "OK\r\n");
  const auto records = log();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["path"], "messages.local.md1");
  EXPECT_EQ(records[0]["type"], "changed");
  EXPECT_GT(std::stoll(records[0]["tv_sec"].get<std::string>()), 1700000000) << "two sends, two times";

  get("/control/control?section=event_ima&set_profile=ima:md1&ima_sens=as");
  get("/control/control?section=actions&delete_profile=ah2_subactions:0000");
  const auto all = nlohmann::json::parse(get("/sim/profiles"));
  EXPECT_EQ(all["event_profiles"]["event_ima"][0], "md1:_profilename=Hall:ima_dead=0:ima_sens=as:vm_list=");
  EXPECT_FALSE(all["action_groups"]["ah2"].contains("subactions"));

  get("/sim/reset-profiles");
  EXPECT_EQ(get("/sim/profiles"), R"({"event_profiles":{},"message_profiles":[],"action_groups":{}})");
  EXPECT_EQ(log(), nlohmann::json::array());
}

// The I/O boards' inputs, outputs and boxes in the same stores; what a request cannot name is
// refused.
TEST_F(CamsimMessageSystem, BoardEventsFollowTheirPinsAndMessages) {
  get("/control/control?set&section=event_sig&sig=A_SI0:_profilename=A_SI0:sig_sens=si:si_pin=mo,29:so_pin=mo,7");
  get("/control/control?set&section=event_sig&sig=A_SO0:_profilename=A_SO0:sig_sens=so:si_pin=mo,29:so_pin=mo,7");
  get("/admin/control?set&section=signaloutprofiles&profile=ON:_profilename=ON:so_pin=mo,7:so_state=toggle_on");
  EXPECT_EQ(get("/admin/control?read&section=signaloutprofiles&profile"),
            "profile=ON:_profilename=ON:so_pin=mo,7:so_state=toggle_on\r\n");
  EXPECT_EQ(get("/control/rcontrol?action=sigout&name=ON"), "OK\r\n");
  const auto state = nlohmann::json::parse(get("/sim/io?board=ZL232&input=0&state=1"));
  EXPECT_EQ(state["boards"]["ZL232"], nlohmann::json::parse(R"({"inputs":[true,false],"outputs":[true,false]})"));

  for (const char* refused : {"/sim/io?board=NONE&input=0&state=1", "/sim/io?board=ZL232&input=2&state=1",
                              "/sim/io?board=ZL232&input=0&state=2"})
    EXPECT_EQ(camsim_.request(refused).status, 400) << refused;
  for (const char* unknown : {"/control/rcontrol?action=sigout&name=OFF", "/control/rcontrol?action=message&name=x"})
    EXPECT_EQ(camsim_.request(unknown).status, 404) << unknown;
  EXPECT_EQ(get("/api/json/config/ZL_232_IO_Box"), "{}") << "VX-S10 has no RS-232 box";
}

}  // namespace
