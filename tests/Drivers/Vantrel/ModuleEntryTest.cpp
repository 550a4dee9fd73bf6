// The module as a host sees it: loaded with dlopen, used through its exports and contracts only.
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "ScratchFolder.h"
#include "TestHost.h"
#include "host/GDRV.h"

namespace {

using Talvo::contract_cast;

// A repository of our own, so that the matching rules are checked against known entries.
const char* const kRepository = R"({
  "name": "Vantrel", "number": 378,
  "codecs": {"zelta": {"name": "Zelta", "value": "0"}, "mjpeg": {"name": "MJPEG", "value": "1"}},
  "streams": {"push": ["zelta", "mjpeg"]},
  "detectors": {"motion": {"properties": {"detectionType": "motion_detection"}}},
  "models": [
    {"identities": [{"vendor": "Vantrel", "model": "VX-A", "firmware": ["1.0", "1.1"]}],
     "video": [{"streams": [{"description": "push"}]}],
     "audio_sources": [{"settings": {"volume": 10}}],
     "detectors": ["motion"]},
    {"identities": [{"vendor": "Other", "model": "VX-A", "firmware": ["2.0"]}],
     "video": [{"streams": [{"description": "push"}, {"description": "push"}]}, {"streams": [{"description": "push"}]}]},
    {"identities": [{"vendor": "Vantrel", "model": "generic", "firmware": []}],
     "video": [{"streams": [{"description": "push"}]}],
     "audio_sources": [{}]}
  ]})";

using DevicePtr = std::unique_ptr<Talvo::GDRV::IDevice, void (*)(Talvo::GDRV::IDevice*)>;

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(directory.file("Orsel.Vantrel.rep")) << kRepository; }

  DevicePtr createDevice(const char* vendor, const char* model, const char* firmware) {
    if (!module.get()) {
      EXPECT_TRUE(module.init(&host, directory.path().c_str()));
    }
    return DevicePtr(module.get()->CreateDevice(&handler, vendor, model, firmware),
                     [](Talvo::GDRV::IDevice* device) { device->Destroy(); });
  }
  // "level file function" of every line containing `part`, one per line.
  std::string whereIs(const std::string& part) const {
    std::string found;
    for (const auto& line : host.logger.lines())
      if (line.message.find(part) != std::string::npos)
        found += (found.empty() ? "" : "\n") + std::to_string(line.level) + " " + line.file + " " + line.function;
    return found;
  }

  ScratchFolder directory;
  TestModuleHost host;
  LoadedModule module{VANTREL_MODULE_PATH};
  RecordingDeviceHandler handler;
};

TEST_F(ModuleTest, LifeCycleCastsAndARepositoryThatDoesNotLoad) {
  EXPECT_EQ(module.get(), nullptr) << "no module before initModule";
  EXPECT_FALSE(module.init(nullptr, directory.path().c_str()));
  EXPECT_FALSE(module.init(&host, nullptr));
  ASSERT_TRUE(module.init(&host, directory.path().c_str()));
  Talvo::GDRV::IModule* first = module.get();
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(module.init(&host, directory.path().c_str())) << "a second initModule fails";
  EXPECT_EQ(module.get(), first) << "and the first module stays";
  module.fini();
  EXPECT_EQ(module.get(), nullptr);
  module.fini();  // twice is harmless
  EXPECT_EQ(module.get(), nullptr);
  ASSERT_TRUE(module.init(&host, (directory.path().string() + "/").c_str())) << "a trailing slash names the same file";
  Talvo::GDRV::IModule* driver = module.get();
  ASSERT_NE(driver, nullptr);
  // Casts compare whole type names.
  EXPECT_EQ(contract_cast<Talvo::GDRV::IModule>(driver), driver);
  EXPECT_NE(contract_cast<Talvo::IContract>(driver), nullptr);
  EXPECT_EQ(contract_cast<Talvo::GDRV::IDevice>(driver), nullptr);
  const std::string name = Talvo::contractName<Talvo::GDRV::IModule>();
  EXPECT_EQ(driver->Cast(name.substr(0, name.size() - 1).c_str()), nullptr) << "a prefix is not the name";
  EXPECT_EQ(driver->Cast((name + "X").c_str()), nullptr);
  EXPECT_EQ(driver->Cast(nullptr), nullptr);
  DevicePtr device = createDevice("Vantrel", "VX-A", "1.0");
  ASSERT_TRUE(device);
  EXPECT_NE(contract_cast<Talvo::GDRV::IStorageDevice>(device.get()), nullptr);
  EXPECT_EQ(contract_cast<Talvo::GDRV::IModule>(device.get()), nullptr);
  device.reset();
  module.fini();

  // A repository that does not load fails the init.
  ScratchFolder empty;
  EXPECT_FALSE(module.init(&host, empty.path().c_str()));
  EXPECT_EQ(module.get(), nullptr);
  std::ofstream(empty.file("Orsel.Vantrel.rep")) << "{\"name\": \"Vantrel\", \"models\": [";
  EXPECT_FALSE(module.init(&host, empty.path().c_str()));
  EXPECT_EQ(module.get(), nullptr);
  EXPECT_TRUE(host.logger.contains(empty.file("Orsel.Vantrel.rep"))) << "the loader names the file";
}

// Vendor, model and firmware choose the entry, else vendor and model, else the model alone. Only
// the second "VX-A" entry has a second stream, which tells which entry a device got.
TEST_F(ModuleTest, CreateDeviceMatchesVendorModelAndFirmwareThenModelAlone) {
  enum Entry { None, First, Second, Any };
  const struct {
    const char *vendor, *model, *firmware;
    Entry entry;
  } cases[] = {
      {"Vantrel", "VX-A", "1.1", First},   {"Other", "VX-A", "", Second},      // empty firmware: vendor and model
      {"Other", "VX-A", "2.0", Second},    {"Other", "VX-A", "9.9", First},    // unknown firmware: the model alone
      {"Vantrel", "VX-A", "", First},      {"Vantrel", "VX-A", "2.0", First},  // another vendor's firmware
      {"Someone", "VX-A", "", First},                                          // no such vendor: the model alone
      {nullptr, "VX-A", nullptr, Any},                                         // null strings count as empty
      {"Vantrel", "VX-Z", "", None},       {"Vantrel", "vx-a", "", None},      // case-sensitive
      {"Vantrel", nullptr, nullptr, None},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.vendor ? c.vendor : "null") + " " + (c.model ? c.model : "null") + " " +
                 (c.firmware ? c.firmware : "null"));
    DevicePtr device = createDevice(c.vendor, c.model, c.firmware);
    ASSERT_EQ(device != nullptr, c.entry != None);
    if (!device || c.entry == Any) continue;
    Talvo::GDRV::IVideoSource* second = device->CreateVideoSource(nullptr, 0, 1, nullptr);
    EXPECT_EQ(second != nullptr, c.entry == Second);
    if (second) second->Destroy();
  }
  EXPECT_EQ(host.logger.count(" Create device: VX-A/1.1"), 1u) << host.logger.dump();
  EXPECT_EQ(whereIs(" Create device: VX-A/1.1"), "0 Drivers/Vantrel/src/Device Device");
}

TEST_F(ModuleTest, ChannelIndicesAreCheckedUnlessTheModelIsGenericAndVideoAnalyticsRefusalsAreLogged) {
  DevicePtr device = createDevice("Vantrel", "VX-A", "1.0");
  ASSERT_TRUE(device);
  EXPECT_EQ(device->CreateAudioSource(nullptr, 1, nullptr), nullptr) << "one audio source";
  EXPECT_EQ(device->CreateAudioDestination(nullptr, 0), nullptr) << "no audio destination";
  EXPECT_EQ(device->CreateIODevice(nullptr, 0), nullptr);
  EXPECT_EQ(device->CreateTelemetry(0), nullptr);
  EXPECT_EQ(device->CreateVideoSource(nullptr, 1, 0, nullptr), nullptr);
  EXPECT_EQ(device->CreateTextEventSource(nullptr, 0), nullptr);

  DevicePtr generic = createDevice("Vantrel", "generic", "");
  ASSERT_TRUE(generic);
  Talvo::GDRV::IAudioSource* seventh = generic->CreateAudioSource(nullptr, 7, nullptr);
  ASSERT_NE(seventh, nullptr) << "the generic model accepts every index";
  EXPECT_EQ(seventh->GetChannel(), 7u);
  seventh->Destroy();

  // Video analytics: refusals are logged as warnings.
  host.logger.clear();
  EXPECT_EQ(device->CreateVideoAnalytics(nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(whereIs(" Creating videoAnalytic detectorID='' for Vantrel/VX-A/1.0"),
            "0 Nuvlet/include/Device CreateVideoAnalytics");
  EXPECT_EQ(device->CreateVideoAnalytics(nullptr, 3, "motion"), nullptr);
  EXPECT_EQ(device->CreateVideoAnalytics(nullptr, 0, "tamper"), nullptr);
  for (const std::string refusal :
       {"channel=0 detectorID=''", "channel=3 detectorID='motion'", "detectorID='tamper' not defined for device"})
    EXPECT_EQ(whereIs(" Can't create videoAnalytic " + refusal).substr(0, 2), "3 ") << refusal;
}

TEST(ModuleExports, OnlyTheThreeEntryPointsWithTheirVersion) {
  const ChildResult nm = runChild({"nm", "-D", "--defined-only", VANTREL_MODULE_PATH});
  ASSERT_EQ(nm.exitStatus, 0) << nm.err;
  std::set<std::string> symbols;
  for (const std::string& line : nm.outLines()) {
    std::istringstream fields(line);
    std::string address, kind, name;
    fields >> address >> kind >> name;
    symbols.insert(name.empty() ? kind : name);  // absolute version-node symbols lack the address
  }
  const std::set<std::string> expected = {"ORSEL_3.78", "finiModule@@ORSEL_3.78", "getModule@@ORSEL_3.78",
                                          "initModule@@ORSEL_3.78"};
  EXPECT_EQ(symbols, expected);
}

}  // namespace
