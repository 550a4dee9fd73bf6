#include "Zelta_StreamInfo.h"

namespace Zelta {

void Zelta_StreamInfo::addFrameTime(int64_t seconds, int64_t microseconds) {
  // The seconds come from the camera: a time that does not fit in 64-bit microseconds is no time.
  int64_t timeUs = 0;
  if (__builtin_mul_overflow(seconds, int64_t{1000000}, &timeUs) ||
      __builtin_add_overflow(timeUs, microseconds, &timeUs))
    return;
  m_frameTimesUs.push_back(timeUs);
  while (m_frameTimesUs.size() > kFrameTimeHistory) m_frameTimesUs.pop_front();
  if (m_frameTimesUs.size() < 2) return;
  const double spanMs = (static_cast<double>(m_frameTimesUs.back()) - static_cast<double>(m_frameTimesUs.front())) / 1000.0;
  const double meanMs = spanMs / static_cast<double>(m_frameTimesUs.size() - 1);
  // Times that do not move forward (a camera clock step) give no rate rather than a wild one.
  setValue(kFrameRate, meanMs > 0 ? static_cast<int>(1000.0 / meanMs + 0.5) : 0);
}

void Zelta_StreamInfo::reset() {
  m_values.clear();
  m_frameTimesUs.clear();
}

}  // namespace Zelta
