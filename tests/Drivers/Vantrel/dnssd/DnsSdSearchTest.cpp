// The built module's device search against the DNS-SD responder of run-in-namespace.sh, which
// announces two of this maker's cameras (one without firmware key) and one of another maker.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RecordingSearchHandler.h"
#include "TestHost.h"

// libdbus takes its internal locks in orders ThreadSanitizer reports as possible deadlocks: the
// library's, not ours.
extern "C" const char* __tsan_default_suppressions() { return "deadlock:libdbus-1.so\n"; }

namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kThisMakersCameras = {
    "Vantrel VX-D22/ 127.0.0.1:8082 driver Vantrel 378",  // VX-T42 announced: no thermal sensor known
    "Vantrel VX-S10/2.4.1 127.0.0.1:8081 driver Vantrel 378",
};

using SearchPtr = std::unique_ptr<Talvo::GDRV::IDeviceSearch, void (*)(Talvo::GDRV::IDeviceSearch*)>;

class DnsSdSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DNSSD_NAMESPACE")) GTEST_SKIP() << "runs only inside run-in-namespace.sh";
    ASSERT_TRUE(module.init(&host, std::filesystem::path(VANTREL_MODULE_PATH).parent_path().c_str()));
  }
  SearchPtr createSearch(RecordingSearchHandler& reporter) {
    return SearchPtr(module.get()->CreateDeviceSearch(&reporter), [](Talvo::GDRV::IDeviceSearch* s) { s->Destroy(); });
  }

  TestModuleHost host;
  LoadedModule module{VANTREL_MODULE_PATH};
  RecordingSearchHandler handler;
};

// Exactly this maker's cameras, again after a Stop. A search ended from inside its report reports
// nothing more and its thread ends by itself.
TEST_F(DnsSdSearchTest, ReportsExactlyTheCamerasOfThisMakerAndMayEndFromInsideTheReport) {
  SearchPtr search = createSearch(handler);
  ASSERT_NE(search, nullptr);
  search->Start();
  ASSERT_TRUE(handler.waitForCount(2, 30s)) << host.logger.dump();
  // Every announcement has been resolved (each is logged before the search judges it).
  ASSERT_TRUE(host.logger.waitForCount(" Service of ", 3, 30s)) << host.logger.dump();
  search->Stop();
  auto results = handler.results();
  std::sort(results.begin(), results.end());
  EXPECT_EQ(results, kThisMakersCameras) << host.logger.dump();
  search->Start();
  ASSERT_TRUE(handler.waitForCount(4, 30s)) << host.logger.dump();
  search->Stop();
  EXPECT_FALSE(host.logger.contains("Error")) << host.logger.dump();

  RecordingSearchHandler stopping, destroying;
  stopping.stopOnReport = true;
  destroying.destroyOnReport = true;
  SearchPtr stopped = createSearch(stopping);
  stopped->Start();
  ASSERT_TRUE(stopping.waitForCount(1, 30s)) << host.logger.dump();
  stopped->Stop();
  EXPECT_EQ(stopping.results().size(), 1u);
  module.get()->CreateDeviceSearch(&destroying)->Start();
  ASSERT_TRUE(destroying.waitForReportsEnded(1, 30s)) << host.logger.dump();
  EXPECT_EQ(destroying.results().size(), 1u);
}

}  // namespace
