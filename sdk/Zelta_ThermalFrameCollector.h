// The picture decoder's two thermal slots: "ZLT" COM segments of one picture go to the object of
// their sensor (built from the first block seen), and the finished objects are taken at the end
// of the picture, sensor 0 first. The objects take their buffers from the collector's pool.
// Used on the SDK's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ZL_ThermalRawDataImpl.h"

namespace Zelta {

class Zelta_ThermalFrameCollector {
 public:
  // Buffers from `buffers` (from a pool of the collector's own when null).
  explicit Zelta_ThermalFrameCollector(std::shared_ptr<Zelta_FrameBuffers> buffers = nullptr);

  // True when `segment` (length bytes from its 0xFF) is a COM segment carrying "ZLT\0".
  static bool isThermalSegment(const uint8_t* segment, size_t length);

  // Adds one ZLT COM segment; false when it is not one, is cut short, or its block was dropped.
  bool addSegment(const uint8_t* segment, size_t length);
  // The objects collected for this picture (sensor 0, then sensor 1); the slots are emptied.
  std::vector<std::shared_ptr<ZL_ThermalRawData>> finish();
  // Forgets what was collected (a picture that was not finished).
  void discard();

 private:
  std::shared_ptr<Zelta_FrameBuffers> m_buffers;
  std::shared_ptr<ZL_ThermalRawDataImpl> m_slots[2];
};

}  // namespace Zelta
