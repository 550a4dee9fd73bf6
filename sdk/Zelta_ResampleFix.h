// Resampling by an integer factor: up by repeating each frame, down by averaging groups of
// frames. The rates must be integer multiples of each other.
#pragma once

#include "Zelta_AudioResampler.h"

namespace Zelta {

class Zelta_ResampleFix : public Zelta_AudioResampler {
 public:
  // Throws the precondition error when the rates are not integer multiples.
  Zelta_ResampleFix(uint32_t sourceRate, uint32_t targetRate);

 protected:
  std::vector<float> resampleFrames(const std::vector<float>& frames, size_t channels) const override;

 private:
  uint32_t mSrcSamplefreq;
  uint32_t mTgtSamplefreq;
  uint32_t mScaleFactor;
  bool mUp;
};

}  // namespace Zelta
