// The device search's judgement of announcements (full name, firmware, other makers) and its
// behaviour without an Avahi daemon. The search against a real responder: dnssd/.
#include "DeviceSearch.h"

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "CapturingLogger.h"
#include "ShippedRepository.h"
#include "dnssd/RecordingSearchHandler.h"

namespace {

using namespace std::chrono_literals;
using Txt = Talvo::Utility::ServiceBrowser::TxtMap;

TEST(DeviceSearchFullName, ModelIsTheNameBeforeTheVariant) {
  const std::pair<const char*, const char*> models[] = {
      {"VX-S10", "VX-S10"}, {"VX-S10-Sec", "VX-S10"}, {"VX-T42-2", "VX-T42"}, {"VX-D22", "VX-D22"}};
  for (const auto& [fullName, model] : models)
    EXPECT_EQ(Vantrel::DeviceSearch::modelOfFullName(fullName), std::string(model)) << fullName;
  for (const std::string& none :
       std::vector<std::string>{"", "VX-", "VX-S10-", "VX-S10-Sec-B", "vx-s10", " VX-S10", "VX-S10 ", "AX-100",
                                "Camera VX-S10", "\xff\xfe-VX", std::string("VX-S1\0", 6)})
    EXPECT_EQ(Vantrel::DeviceSearch::modelOfFullName(none), std::nullopt) << "'" << none << "'";
}

class DeviceSearchTest : public ::testing::Test {
 protected:
  Vantrel::DeviceSearch* createSearch() { return new Vantrel::DeviceSearch(&handler, &logger, "Vantrel", info); }
  // The result text for one announcement, or "none".
  std::string judge(const Txt& txt) {
    Vantrel::DeviceSearch* search = createSearch();
    auto result = search->makeResult("192.0.2.7", 8080, txt);
    search->Destroy();
    if (!result) return "none";
    return result->brand + " " + result->model + "/" + result->firmware + " " + result->address + ":" +
           std::to_string(result->port) + " driver " + result->driverName + " " + std::to_string(result->driverNumber);
  }

  std::shared_ptr<const Talvo::GDRV::DriverInfo> info = loadShippedRepository();
  CapturingLogger logger;
  RecordingSearchHandler handler;
};

TEST_F(DeviceSearchTest, AnnouncementsOfThisMakerOnly) {
  const std::pair<Txt, const char*> cases[] = {
      {{{"net.vantrel.fullname", "VX-S10-Sec"}, {"net.vantrel.firmware", "2.4.1"}}, "VX-S10/2.4.1"},
      {{{"net.vantrel.fullname", "VX-S10"}}, "VX-S10/"},
      {{{"net.vantrel.fullname", "VX-T40"}, {"net.vantrel.firmware", ""}}, "VX-D20/"},
      {{{"net.vantrel.firmware", "2.4.1"}}, nullptr},
      {{{"net.vantrel.fullname", "OM-300"}, {"net.vantrel.firmware", "2.4.1"}}, nullptr},
      {{{"net.othermaker.fullname", "VX-S10"}}, nullptr},
      {{}, nullptr}};
  for (const auto& [txt, model] : cases)
    EXPECT_EQ(judge(txt), model ? "Vantrel " + std::string(model) + " 192.0.2.7:8080 driver Vantrel 378" : "none");
}

// Without a reachable daemon the search logs so, reports nothing, and stops at once.
TEST_F(DeviceSearchTest, NoDaemonIsLoggedAndReportsNothing) {
  const char* earlier = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::string kept = earlier ? earlier : "";
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/dnssd-test-bus", 1);
  Vantrel::DeviceSearch* search = createSearch();
  search->Start();
  search->Stop();
  search->Start();
  search->Destroy();
  earlier ? setenv("DBUS_SYSTEM_BUS_ADDRESS", kept.c_str(), 1) : unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  std::vector<std::string> errors;
  for (const auto& line : logger.lines())
    if (line.message.find("Error occurred") != std::string::npos) errors.push_back(line.file + " " + line.function);
  EXPECT_EQ(errors, std::vector<std::string>(2, "Nuvlet/include/SDDeviceSearch createBrowserForInterface"));
  EXPECT_EQ(logger.count(" Error occurred while creating ServiceBrowser for interface  message : No Avahi daemon "
                         "reachable: "),
            2u)
      << logger.dump();
  EXPECT_TRUE(handler.results().empty());
}

}  // namespace
