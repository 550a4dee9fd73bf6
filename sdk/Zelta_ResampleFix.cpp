#include "Zelta_ResampleFix.h"

#include "Zelta_Print.h"

namespace Zelta {

Zelta_ResampleFix::Zelta_ResampleFix(uint32_t sourceRate, uint32_t targetRate)
    : mSrcSamplefreq(sourceRate), mTgtSamplefreq(targetRate), mUp(targetRate >= sourceRate) {
  ZELTA_CHECK(sourceRate > 0 && targetRate > 0);
  if (mUp) {
    mScaleFactor = mTgtSamplefreq / mSrcSamplefreq;
    ZELTA_CHECK(mScaleFactor * mSrcSamplefreq == mTgtSamplefreq);
  } else {
    mScaleFactor = mSrcSamplefreq / mTgtSamplefreq;
    ZELTA_CHECK(mScaleFactor * mTgtSamplefreq == mSrcSamplefreq);
  }
}

std::vector<float> Zelta_ResampleFix::resampleFrames(const std::vector<float>& frames, size_t channels) const {
  const size_t count = frames.size() / channels;
  std::vector<float> out;
  if (mUp) {
    out.reserve(count * mScaleFactor * channels);
    for (size_t f = 0; f < count; ++f)
      for (uint32_t r = 0; r < mScaleFactor; ++r)
        for (size_t c = 0; c < channels; ++c) out.push_back(frames[f * channels + c]);
    return out;
  }
  out.reserve(count / mScaleFactor * channels);
  for (size_t f = 0; f + mScaleFactor <= count; f += mScaleFactor)
    for (size_t c = 0; c < channels; ++c) {
      float sum = 0;
      for (uint32_t r = 0; r < mScaleFactor; ++r) sum += frames[(f + r) * channels + c];
      out.push_back(sum / mScaleFactor);
    }
  return out;
}

}  // namespace Zelta
