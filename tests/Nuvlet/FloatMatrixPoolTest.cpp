// Pooled float matrices: the values of a matrix still held (by an event, a queued step, a host
// within its call) are never handed out again; released ones serve the next frame, from any
// releasing thread; the pool keeps a bounded number and outlives nothing it must not.
#include "host/Nuvlet/FloatMatrixPool.h"

#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

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

TEST(FloatMatrixPoolTest, ReleasesOnOtherThreadsAndTheBoundOnWaitingVectors) {
  const auto pool = FloatMatrixPool::create(3);
  std::vector<FloatMatrixPtr> inFlight;
  for (int i = 0; i < 8; ++i) inFlight.push_back(frame(*pool, static_cast<float>(i)));
  std::thread releaser([&inFlight] { inFlight.clear(); });  // as the device's thread does
  releaser.join();
  EXPECT_EQ(pool->waiting(), 3u) << "more than the bound are freed";
  EXPECT_EQ(frame(*pool, 9.0f, 5, 5)->values(), std::vector<float>(25, 9.0f)) << "another frame size";
}

TEST(FloatMatrixPoolTest, DroppedFramesSizesAndMatricesOutlivingThePool) {
  auto pool = FloatMatrixPool::create();
  std::vector<float> dropped = pool->take(12);
  pool->giveBack(std::move(dropped));
  EXPECT_EQ(pool->waiting(), 1u);
  EXPECT_THROW(pool->matrix(0, pool->take(11), 4, 3), std::invalid_argument);

  FloatMatrixPtr survivor = frame(*pool, 5.0f);
  pool.reset();  // the event stream goes while a host step still holds a matrix
  EXPECT_EQ(survivor->values(), std::vector<float>(12, 5.0f));
  survivor.reset();
}

}  // namespace
