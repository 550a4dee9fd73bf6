// The SDK-wide store of numeric stream values: queue depths, drop counters, image size and the
// frame rate derived from recent frame times. Shared (shared_ptr) by the segment parser, the
// packetizer and the setup object of one SDK instance; used on that instance's thread only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>

namespace Zelta {

class Zelta_StreamInfo {
 public:
  enum Key : int {
    kControlQueueCount = 0,
    kAudioQueueCount = 1,
    kVideoQueueCount = 2,
    kFrameRate = 13,
    kImageWidth = 14,
    kImageHeight = 15,
    kSegmentsDropped = 16,
    kFramesSkipped = 17,
    kBytesDropped = 18,
  };
  // Frame times kept for the frame rate.
  static constexpr size_t kFrameTimeHistory = 16;

  virtual ~Zelta_StreamInfo() = default;

  void setValue(int key, int value) { m_values[key] = value; }
  // A missing key is inserted with 0.
  int getValue(int key) { return m_values[key]; }
  // Counters stop at the int range instead of overflowing (a long stream drops many bytes).
  void addValue(int key, int delta) {
    const int64_t sum = static_cast<int64_t>(getValue(key)) + delta;
    setValue(key, static_cast<int>(std::clamp<int64_t>(sum, std::numeric_limits<int>::min(),
                                                        std::numeric_limits<int>::max())));
  }
  // Records a frame time and recomputes the frame rate (key 13) over the recent ones.
  void addFrameTime(int64_t seconds, int64_t microseconds);
  void reset();

 private:
  std::map<int, int> m_values;
  std::deque<int64_t> m_frameTimesUs;
};

}  // namespace Zelta
