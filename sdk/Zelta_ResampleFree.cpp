#include "Zelta_ResampleFree.h"

#include "Zelta_Print.h"

namespace Zelta {

Zelta_ResampleFree::Zelta_ResampleFree(uint32_t sourceRate, uint32_t targetRate)
    : m_sourceRate(sourceRate), m_targetRate(targetRate) {
  ZELTA_CHECK(sourceRate > 0 && targetRate > 0);
}

std::vector<float> Zelta_ResampleFree::resampleFrames(const std::vector<float>& frames, size_t channels) const {
  const size_t count = frames.size() / channels;
  const size_t outCount = static_cast<size_t>(static_cast<uint64_t>(count) * m_targetRate / m_sourceRate);
  std::vector<float> out(outCount * channels);
  const double step = static_cast<double>(m_sourceRate) / m_targetRate;
  for (size_t o = 0; o < outCount; ++o) {
    const double position = o * step;
    const size_t left = static_cast<size_t>(position);
    const size_t right = left + 1 < count ? left + 1 : left;
    const float weight = static_cast<float>(position - left);
    for (size_t c = 0; c < channels; ++c)
      out[o * channels + c] = frames[left * channels + c] * (1 - weight) + frames[right * channels + c] * weight;
  }
  return out;
}

}  // namespace Zelta
