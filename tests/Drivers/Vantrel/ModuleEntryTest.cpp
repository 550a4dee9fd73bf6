// The module as a host sees it: loaded with dlopen, entered through its three exported
// functions, asked for devices and channels through the contract only.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "TestHost.h"
#include "host/GDRV.h"

namespace {

namespace fs = std::filesystem;
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

class ModuleDirectory {
 public:
  ModuleDirectory() {
    char pattern[] = "/tmp/vantrel-module-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ModuleDirectory() { fs::remove_all(path_); }
  void write(const std::string& text) { std::ofstream(path_ + "/Orsel.Vantrel.rep") << text; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Destroys a contract object the host was given.
struct DeviceDeleter {
  void operator()(Talvo::GDRV::IDevice* device) const {
    if (device) device->Destroy();
  }
};
using DevicePtr = std::unique_ptr<Talvo::GDRV::IDevice, DeviceDeleter>;

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { directory.write(kRepository); }

  Talvo::GDRV::IModule* initialised() {
    if (!module.get()) {
      EXPECT_TRUE(module.init(&host, directory.path().c_str()));
    }
    return module.get();
  }
  DevicePtr createDevice(const char* vendor, const char* model, const char* firmware) {
    return DevicePtr(initialised()->CreateDevice(&handler, vendor, model, firmware));
  }
  // The first line containing `part`; it must exist.
  CapturingLogger::Line lineWith(const std::string& part) const {
    for (const auto& line : host.logger.lines())
      if (line.message.find(part) != std::string::npos) return line;
    ADD_FAILURE() << "no line with '" << part << "' in\n" << host.logger.dump();
    return {};
  }

  ModuleDirectory directory;
  TestModuleHost host;
  LoadedModule module{VANTREL_MODULE_PATH};
  RecordingDeviceHandler handler;
};

TEST_F(ModuleTest, LifeCycle) {
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
  ASSERT_TRUE(module.init(&host, (directory.path() + "/").c_str())) << "a trailing slash names the same file";
  EXPECT_NE(module.get(), nullptr);
}

TEST_F(ModuleTest, RepositoryThatDoesNotLoadFailsInit) {
  ModuleDirectory empty;
  EXPECT_FALSE(module.init(&host, empty.path().c_str()));
  EXPECT_EQ(module.get(), nullptr);
  empty.write("{\"name\": \"Vantrel\", \"models\": [");
  EXPECT_FALSE(module.init(&host, empty.path().c_str()));
  EXPECT_EQ(module.get(), nullptr);
  EXPECT_TRUE(host.logger.contains(empty.path() + "/Orsel.Vantrel.rep")) << "the loader names the file";
}

TEST_F(ModuleTest, CastsCompareWholeTypeNames) {
  Talvo::GDRV::IModule* driver = initialised();
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(contract_cast<Talvo::GDRV::IModule>(driver), driver);
  EXPECT_NE(contract_cast<Talvo::IContract>(driver), nullptr);
  EXPECT_EQ(contract_cast<Talvo::GDRV::IDevice>(driver), nullptr);
  const std::string name = Talvo::contractName<Talvo::GDRV::IModule>();
  EXPECT_EQ(driver->Cast(name.substr(0, name.size() - 1).c_str()), nullptr) << "a prefix is not the name";
  EXPECT_EQ(driver->Cast((name + "X").c_str()), nullptr);
  EXPECT_EQ(driver->Cast(nullptr), nullptr);

  DevicePtr device = createDevice("Vantrel", "VX-A", "1.0");
  ASSERT_TRUE(device);
  EXPECT_EQ(contract_cast<Talvo::GDRV::IDevice>(device.get()), device.get());
  EXPECT_NE(contract_cast<Talvo::GDRV::IStorageDevice>(device.get()), nullptr);
  EXPECT_NE(contract_cast<Talvo::IContract>(device.get()), nullptr);
  EXPECT_EQ(contract_cast<Talvo::GDRV::IModule>(device.get()), nullptr);

  Talvo::GDRV::IAudioSource* audio = device->CreateAudioSource(nullptr, 0, nullptr);
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(contract_cast<Talvo::GDRV::IAudioSource>(audio), audio);
  EXPECT_NE(contract_cast<Talvo::IAsyncAdjuster>(audio), nullptr);
  EXPECT_EQ(contract_cast<Talvo::GDRV::IVideoSource>(audio), nullptr);
  audio->Destroy();
}

TEST_F(ModuleTest, CreateDeviceMatchesVendorModelAndFirmwareThenModelAlone) {
  // Vendor, model and firmware: the first entry.
  DevicePtr exact = createDevice("Vantrel", "VX-A", "1.1");
  ASSERT_TRUE(exact);
  EXPECT_EQ(exact->CreateVideoSource(nullptr, 0, 1, nullptr), nullptr) << "entry 1 has one stream";
  // The device logs its model and firmware.
  EXPECT_EQ(host.logger.count(" Create device: VX-A/1.1"), 1u) << host.logger.dump();
  const auto line = lineWith(" Create device: VX-A/1.1");
  EXPECT_TRUE(line.level == 0 && line.file == "Drivers/Vantrel/src/Device" && line.function == "Device")
      << line.level << " " << line.file << " " << line.function;
  EXPECT_TRUE(createDevice("Other", "VX-A", "")) << "empty firmware matches on vendor and model";
  EXPECT_TRUE(createDevice("Other", "VX-A", "9.9")) << "an unknown firmware falls back to the model alone";
  EXPECT_TRUE(createDevice(nullptr, "VX-A", nullptr)) << "null strings count as empty";
  EXPECT_FALSE(createDevice("Vantrel", "VX-Z", ""));
  EXPECT_FALSE(createDevice("Vantrel", "vx-a", "")) << "case-sensitive";
  EXPECT_FALSE(createDevice("Vantrel", nullptr, nullptr));
}

// Two entries list "VX-A" under different vendors; only the second has a second stream on its
// first channel, which tells which entry a device got.
TEST_F(ModuleTest, TheVendorChoosesBetweenEntriesOfTheSameModel) {
  const struct {
    const char* vendor;
    const char* firmware;
    bool secondEntry;
  } cases[] = {
      {"Other", "", true},       {"Other", "2.0", true}, {"Vantrel", "", false},
      {"Vantrel", "2.0", false},  // that firmware only under another vendor: the model alone, first entry
      {"Someone", "", false},     // no such vendor: the model alone
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.vendor) + " VX-A " + c.firmware);
    DevicePtr device = createDevice(c.vendor, "VX-A", c.firmware);
    ASSERT_TRUE(device);
    Talvo::GDRV::IVideoSource* second = device->CreateVideoSource(nullptr, 0, 1, nullptr);
    EXPECT_EQ(second != nullptr, c.secondEntry);
    if (second) second->Destroy();
  }
}

TEST_F(ModuleTest, ChannelIndicesAreCheckedUnlessTheModelIsGeneric) {
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
}

TEST_F(ModuleTest, VideoAnalyticsChecksAreLogged) {
  DevicePtr device = createDevice("Vantrel", "VX-A", "1.0");
  ASSERT_TRUE(device);
  host.logger.clear();
  EXPECT_EQ(device->CreateVideoAnalytics(nullptr, 0, nullptr), nullptr);
  EXPECT_TRUE(host.logger.contains(" Creating videoAnalytic detectorID='' for Vantrel/VX-A/1.0"));
  EXPECT_TRUE(host.logger.contains(" Can't create videoAnalytic channel=0 detectorID=''"));
  EXPECT_EQ(device->CreateVideoAnalytics(nullptr, 3, "motion"), nullptr);
  EXPECT_TRUE(host.logger.contains(" Can't create videoAnalytic channel=3 detectorID='motion'"));
  EXPECT_EQ(device->CreateVideoAnalytics(nullptr, 0, "tamper"), nullptr);
  EXPECT_TRUE(host.logger.contains(" Can't create videoAnalytic detectorID='tamper' not defined for device"));
  for (const auto& line : host.logger.lines())
    if (line.message.find("Can't create") != std::string::npos) {
      EXPECT_EQ(line.level, 3) << line.message;
    }
  const auto creating = lineWith(" Creating videoAnalytic");
  EXPECT_EQ(creating.level, 0);
  EXPECT_EQ(creating.file, "Nuvlet/include/Device");
  EXPECT_EQ(creating.function, "CreateVideoAnalytics");
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
