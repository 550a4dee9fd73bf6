// Periodical events: what a host handler without the properties face receives, the matrix's size
// check, and the pooled float matrices: the values of a matrix still held (by an event,
// a queued step, a host within its call) are never handed out again; released ones serve the next
// frame, from any releasing thread; the pool keeps a bounded number and outlives nothing it must not.
#include "host/Nuvlet/EventRaiser.h"
#include "host/Nuvlet/Analytics.h"
#include "host/Nuvlet/FloatMatrixPool.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Talvo::Utility::FloatMatrix;
using Talvo::Utility::Detector::EventFactory;

// Every call as a line.
class PlainHandler : public Talvo::GDRV::IVideoAnalyticsHandler {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return Talvo::isContractName<Talvo::GDRV::IVideoAnalyticsHandler>(typeName) ? this : nullptr;
  }
  void Failed(Talvo::IContract*, int32_t) override {}
  void Started(Talvo::IContract*) override {}
  void Stopped(Talvo::IContract*) override {}
  void Event(Talvo::IContract*, const char* name, Talvo::GDRV::EventPhase phase, uint64_t time, const char*,
             const char* detectorId) override {
    calls.push_back("event " + std::string(name) + " " + std::to_string(phase) + " " + std::to_string(time) + " " +
                    detectorId);
  }
  void Data(Talvo::IContract*, const char* name, uint64_t time, const char* json) override {
    calls.push_back("data " + std::string(name) + " " + std::to_string(time) + " " + json);
  }
  std::vector<std::string> calls;
};

// A handler without the properties face gets an event and its data as JSON (the properties face:
// tests/Drivers/Vantrel/TemperaturesDetectionTest).
TEST(EventRaiserTest, TheEventIsDeliveredWhenTheRaiserIsReleased) {
  PlainHandler handler;
  const EventFactory factory(nullptr, &handler);
  auto level = factory.RaisePeriodicalEvent("Level1", 17000, "");
  level->set("value", 1.0);
  level->set("value", 35.5);  // replaces
  EXPECT_TRUE(handler.calls.empty()) << "nothing before the release";
  level.reset();
  const auto matrix = FloatMatrix::create(1700000000123, std::vector<float>(6, 0.5f), 3, 2);
  factory.RaisePeriodicalEvent("TemperatureMatrix", 1700000000123, "temperatures")->set("TemperatureMatrix", matrix);
  EXPECT_EQ(handler.calls,
            (std::vector<std::string>{
                "event Level1 2 17000 ", "data Level1 17000 {\"value\":35.5}",
                "event TemperatureMatrix 2 1700000000123 temperatures",
                "data TemperatureMatrix 1700000000123 {\"TemperatureMatrix\":{\"width\":3,\"height\":2}}"}));
}

using Talvo::Utility::FloatMatrixPool;
using Talvo::Utility::FloatMatrixPtr;

// A frame as the event stream makes one: values taken from the pool, every one written.
FloatMatrixPtr frame(FloatMatrixPool& pool, float value, uint32_t width = 4, uint32_t height = 3) {
  std::vector<float> values = pool.take(static_cast<size_t>(width) * height);
  for (float& v : values) v = value;
  return pool.matrix(static_cast<uint64_t>(value), std::move(values), width, height);
}

TEST(FloatMatrixPoolTest, HeldMatricesAreNeverWrittenReleasedOnesServeAgain) {
  const auto pool = FloatMatrixPool::create(2);
  FloatMatrixPtr kept = frame(*pool, 1.0f);  // the host's, for a while
  const float* keptValues = kept->GetValues();
  std::vector<const float*> seen;
  for (int i = 2; i < 12; ++i) {
    const FloatMatrixPtr next = frame(*pool, static_cast<float>(i));
    EXPECT_NE(next->GetValues(), keptValues) << "frame " << i << " got the held matrix's values";
    seen.push_back(next->GetValues());
  }
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_EQ(seen[i], seen[0]) << "one released vector serves every frame";
  for (const float v : kept->values()) ASSERT_EQ(v, 1.0f);
  EXPECT_EQ(kept->timeMs(), 1u);

  kept.reset();
  EXPECT_EQ(pool->waiting(), 2u);
  const FloatMatrixPtr a = frame(*pool, 20.0f), b = frame(*pool, 21.0f), c = frame(*pool, 22.0f);
  EXPECT_EQ(pool->waiting(), 0u);
  EXPECT_EQ(c->values(), std::vector<float>(12, 22.0f)) << "a fresh vector when none waits";
}

// Released on another thread, as the device's does: the pool keeps no more than its bound. A
// dropped frame gives its vector back; a matrix holds exactly width times height values; a
// matrix outlives its pool.
TEST(FloatMatrixPoolTest, ReleasesOnOtherThreadsDroppedFramesSizesAndMatricesOutlivingThePool) {
  auto pool = FloatMatrixPool::create(3);
  std::vector<FloatMatrixPtr> inFlight;
  for (int i = 0; i < 8; ++i) inFlight.push_back(frame(*pool, static_cast<float>(i)));
  std::thread([&inFlight] { inFlight.clear(); }).join();
  EXPECT_EQ(pool->waiting(), 3u) << "more than the bound are freed";
  EXPECT_EQ(frame(*pool, 9.0f, 5, 5)->values(), std::vector<float>(25, 9.0f)) << "another frame size";
  pool->giveBack(pool->take(12));
  EXPECT_EQ(pool->waiting(), 3u);
  EXPECT_THROW(pool->matrix(0, pool->take(11), 4, 3), std::invalid_argument);
  EXPECT_THROW(FloatMatrix::create(0, std::vector<float>(5), 3, 2), std::invalid_argument);
  EXPECT_NO_THROW(FloatMatrix::create(0, {}, 0, 7));

  FloatMatrixPtr survivor = frame(*pool, 5.0f);
  pool.reset();  // the event stream goes while a host step still holds a matrix
  EXPECT_EQ(survivor->values(), std::vector<float>(12, 5.0f));
}

}  // namespace
