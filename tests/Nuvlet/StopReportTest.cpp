// The Stopped notification: delivered once, never on the caller's thread, with or without the
// shared I/O service, also when the service ends right after posting.
#include "host/Nuvlet/StopReport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "TestChannels.h"
#include "host/Nuvlet/GlobalService.h"

namespace {

using namespace Talvo::Utility;

// Records the Stopped calls and the threads they came on.
class StopRecorder : public Talvo::GDRV::IAsyncDeviceChannelHandler, public Recorder {
 public:
  void* Cast(const char* t) override { return QueryContract(t); }
  void* QueryContract(const char*) override { return nullptr; }
  void Failed(Talvo::IContract*, int32_t) override {}
  void Started(Talvo::IContract*) override {}
  void StatisticUpdated(Talvo::IContract*, const char*, const char*) override {}
  void Stopped(Talvo::IContract* source) override {
    record([&] { calls.emplace_back(source, std::this_thread::get_id()); });
  }
  // Waits for the first call; true when it came once, from `source`, on another thread.
  bool deliveredOnceElsewhere(Talvo::IContract* source) const {
    if (!waitUntil([&] { return !calls.empty(); }, std::chrono::seconds(10))) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return calls.size() == 1 && calls[0].first == source && calls[0].second != std::this_thread::get_id();
  }

 private:
  std::vector<std::pair<Talvo::IContract*, std::thread::id>> calls;
};

TEST(ReportStopTest, DeliversOnAnotherThreadWithOrWithoutALiveService) {
  RecordingActionHandler source;  // any contract
  for (const bool live : {true, false}) {
    const auto service = live ? GlobalService::instance() : nullptr;
    ASSERT_EQ(GlobalService::current(), service);
    StopRecorder recorder;
    reportStop(&recorder, &source);
    reportStop(nullptr, &source);
    EXPECT_TRUE(recorder.deliveredOnceElsewhere(&source)) << live;
  }
}

TEST(ReportStopTest, DeliversWhenTheServiceEndsRightAfterPosting) {
  RecordingActionHandler source;
  for (int round = 0; round < 20; ++round) {
    StopRecorder recorder;
    {
      auto service = GlobalService::instance();
      reportStop(&recorder, &source);
    }  // the last reference: the service may end before the call ran
    ASSERT_TRUE(recorder.deliveredOnceElsewhere(&source)) << "round " << round;
  }
}

}  // namespace
