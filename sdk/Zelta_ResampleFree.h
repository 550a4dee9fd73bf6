// Resampling between any two rates by linear interpolation between neighbouring frames.
#pragma once

#include "Zelta_AudioResampler.h"

namespace Zelta {

class Zelta_ResampleFree : public Zelta_AudioResampler {
 public:
  // Throws the precondition error for a rate of 0.
  Zelta_ResampleFree(uint32_t sourceRate, uint32_t targetRate);

 protected:
  std::vector<float> resampleFrames(const std::vector<float>& frames, size_t channels) const override;

 private:
  uint32_t m_sourceRate;
  uint32_t m_targetRate;
};

}  // namespace Zelta
