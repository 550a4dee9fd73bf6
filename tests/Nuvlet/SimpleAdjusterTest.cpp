// The settings adjuster: typed values reach the queued set, a full queue and a blocked
// configuration are answered at once.
#include "host/Nuvlet/SimpleAdjuster.h"

#include <gtest/gtest.h>

#include "TestChannels.h"

namespace {

using namespace Talvo::Utility;

class TestAdjuster : public SimpleAdjuster {
 public:
  TestAdjuster() : SimpleAdjuster(this) {}
  void* Cast(const char* t) override { return QueryContract(t); }
  void* QueryContract(const char*) override { return nullptr; }
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
  EXPECT_TRUE(handler.results().empty()) << "the worker answers a queued set";

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

TEST(SimpleAdjusterTest, FullQueueAndBlockedConfigurationAreAnsweredAtOnce) {
  TestAdjuster adjuster;
  RecordingActionHandler handler;
  for (size_t i = 0; i < ParametersContainer::kMaxPendingSets; ++i) adjuster.ApplySettings(&handler);
  EXPECT_TRUE(handler.results().empty());
  adjuster.ApplySettings(&handler);
  adjuster.ApplySettings(nullptr);  // nobody to answer
  EXPECT_EQ(handler.results(), std::vector<int>{16});
  EXPECT_EQ(handler.sources(), std::vector<Talvo::IContract*>{&adjuster});

  EXPECT_FALSE(adjuster.processBlockingConfiguration({}, &handler));
  adjuster.parameters().setPersistentParam("blockConfiguration", true);
  EXPECT_TRUE(adjuster.processBlockingConfiguration({}, &handler));
  EXPECT_TRUE(adjuster.processBlockingConfiguration({}, nullptr));
  EXPECT_EQ(handler.results(), (std::vector<int>{16, 0}));
  adjuster.parameters().setPersistentParam("blockConfiguration", std::string("true"));
  EXPECT_FALSE(adjuster.processBlockingConfiguration({}, &handler)) << "only a bool blocks";
}

}  // namespace
