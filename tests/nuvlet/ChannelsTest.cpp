// The settings adjuster and the Stopped notification.
#include "host/Nuvlet/Channels.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "host/Nuvlet/Repository.h"

namespace {

using namespace Talvo::Utility;
using std::chrono::seconds;

class TestAdjuster : public SimpleAdjuster {
 public:
  TestAdjuster() : SimpleAdjuster(this) {}
  void* Cast(const char* t) override { return QueryContract(t); }
  void* QueryContract(const char* t) override {
    return Talvo::isContractName<Talvo::IAsyncAdjuster>(t) ? static_cast<Talvo::IAsyncAdjuster*>(this) : nullptr;
  }
};

// Records Finished calls.
class RecordingActionHandler : public Talvo::IAsyncActionHandler {
 public:
  void* Cast(const char* t) override { return QueryContract(t); }
  void* QueryContract(const char*) override { return nullptr; }
  void Finished(Talvo::IContract* source, int code) override { calls.emplace_back(source, code); }
  std::vector<std::pair<Talvo::IContract*, int>> calls;
};

TEST(SimpleAdjusterTest, SetValueStoresTypedValuesForTheNextSet) {
  TestAdjuster adjuster;
  adjuster.SetValue("flag", true);
  adjuster.SetValue("fps", 12);
  adjuster.SetValue("ratio", 0.5);
  adjuster.SetValue("resolution", "640x360");
  adjuster.SetValue("empty", static_cast<const char*>(nullptr));
  adjuster.SetValue(nullptr, 3);
  adjuster.SetValue(nullptr, "x");
  RecordingActionHandler handler;
  adjuster.ApplySettings(&handler);
  EXPECT_TRUE(handler.calls.empty()) << "the worker answers a queued set";

  ParamsMap values;
  Talvo::IAsyncActionHandler* popped = nullptr;
  ASSERT_TRUE(adjuster.parameters().popParameters(values, popped));
  EXPECT_EQ(popped, &handler);
  EXPECT_EQ(values.size(), 5u);
  EXPECT_EQ(anyOr<bool>(values["flag"], false), true);
  EXPECT_EQ(anyOr<int>(values["fps"], 0), 12);
  EXPECT_DOUBLE_EQ(anyOr<double>(values["ratio"], 0), 0.5);
  EXPECT_EQ(anyOr<std::string>(values["resolution"], ""), "640x360");
  EXPECT_EQ(anyOr<std::string>(values["empty"], "unset"), "");
}

TEST(SimpleAdjusterTest, FullQueueAnswersBusyAtOnce) {
  TestAdjuster adjuster;
  RecordingActionHandler handler;
  for (size_t i = 0; i < ParametersContainer::kMaxPendingSets; ++i) adjuster.ApplySettings(&handler);
  EXPECT_TRUE(handler.calls.empty());
  adjuster.ApplySettings(&handler);
  ASSERT_EQ(handler.calls.size(), 1u);
  EXPECT_EQ(handler.calls[0].first, static_cast<Talvo::IContract*>(&adjuster));
  EXPECT_EQ(handler.calls[0].second, 16);
  adjuster.ApplySettings(nullptr);
  EXPECT_EQ(handler.calls.size(), 1u);
}

TEST(SimpleAdjusterTest, BlockedConfigurationIsAnsweredWithoutTheCamera) {
  TestAdjuster adjuster;
  RecordingActionHandler handler;
  EXPECT_FALSE(adjuster.processBlockingConfiguration({}, &handler));
  EXPECT_TRUE(handler.calls.empty());
  adjuster.parameters().setPersistentParam("blockConfiguration", true);
  EXPECT_TRUE(adjuster.processBlockingConfiguration({}, &handler));
  ASSERT_EQ(handler.calls.size(), 1u);
  EXPECT_EQ(handler.calls[0].second, 0);
  EXPECT_TRUE(adjuster.processBlockingConfiguration({}, nullptr));
  adjuster.parameters().setPersistentParam("blockConfiguration", std::string("true"));
  EXPECT_FALSE(adjuster.processBlockingConfiguration({}, &handler)) << "only a bool blocks";
}

// Records the Stopped calls and the threads they came on.
class StopRecorder : public Talvo::GDRV::IAsyncDeviceChannelHandler {
 public:
  void* Cast(const char* t) override { return QueryContract(t); }
  void* QueryContract(const char*) override { return nullptr; }
  void Failed(Talvo::IContract*, int32_t) override {}
  void Started(Talvo::IContract*) override {}
  void StatisticUpdated(Talvo::IContract*, const char*, const char*) override {}
  void Stopped(Talvo::IContract* source) override {
    std::lock_guard<std::mutex> lock(mutex_);
    sources_.push_back(source);
    threads_.push_back(std::this_thread::get_id());
    changed_.notify_all();  // under the lock: the test may destroy the recorder once it sees the call
  }
  bool waitForCalls(size_t count, std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, deadline, [&] { return sources_.size() >= count; });
  }
  std::vector<Talvo::IContract*> sources() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sources_;
  }
  std::vector<std::thread::id> threads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Talvo::IContract*> sources_;
  std::vector<std::thread::id> threads_;
};

TEST(ReportStopTest, DeliversOnAnotherThreadWithOrWithoutALiveService) {
  for (const bool live : {true, false}) {
    const auto service = live ? GlobalService::instance() : nullptr;
    ASSERT_EQ(GlobalService::current(), service);
    StopRecorder recorder;
    TestAdjuster source;
    reportStop(&recorder, &source);
    ASSERT_TRUE(recorder.waitForCalls(1, seconds(10))) << live;
    EXPECT_EQ(recorder.sources(), std::vector<Talvo::IContract*>{&source});
    EXPECT_NE(recorder.threads()[0], std::this_thread::get_id());
    reportStop(nullptr, &source);
  }
}

TEST(ReportStopTest, DeliversWhenTheServiceEndsRightAfterPosting) {
  for (int round = 0; round < 20; ++round) {
    StopRecorder recorder;
    TestAdjuster source;
    {
      auto service = GlobalService::instance();
      reportStop(&recorder, &source);
    }  // the last reference: the service may end before the call ran
    ASSERT_TRUE(recorder.waitForCalls(1, seconds(10))) << "round " << round;
    EXPECT_EQ(recorder.sources().size(), 1u);
    EXPECT_NE(recorder.threads()[0], std::this_thread::get_id());
  }
}

}  // namespace
