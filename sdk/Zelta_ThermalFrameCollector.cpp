#include "Zelta_ThermalFrameCollector.h"

#include <cstring>

namespace Zelta {

Zelta_ThermalFrameCollector::Zelta_ThermalFrameCollector(std::shared_ptr<Zelta_FrameBuffers> buffers)
    : m_buffers(buffers ? std::move(buffers) : std::make_shared<Zelta_FrameBuffers>()) {}

bool Zelta_ThermalFrameCollector::isThermalSegment(const uint8_t* segment, size_t length) {
  return segment && length >= ZL_ThermalRawDataImpl::kHeaderSize && segment[0] == 0xFF && segment[1] == 0xFE &&
         std::memcmp(segment + 4, "ZLT\0", 4) == 0;
}

bool Zelta_ThermalFrameCollector::addSegment(const uint8_t* segment, size_t length) {
  if (!isThermalSegment(segment, length)) return false;
  // The segment's own length (counting itself, not the marker) bounds the block.
  const size_t declared = 256u * segment[2] + segment[3] + 2;
  if (declared < ZL_ThermalRawDataImpl::kHeaderSize) return false;
  const size_t end = declared < length ? declared : length;
  auto& slot = m_slots[segment[8] >> 7];
  if (!slot) slot = std::make_shared<ZL_ThermalRawDataImpl>(segment, m_buffers);
  return slot->appendBlock(segment, segment + ZL_ThermalRawDataImpl::kHeaderSize,
                           end - ZL_ThermalRawDataImpl::kHeaderSize);
}

std::vector<std::shared_ptr<ZL_ThermalRawData>> Zelta_ThermalFrameCollector::finish() {
  std::vector<std::shared_ptr<ZL_ThermalRawData>> done;
  for (auto& slot : m_slots)
    if (slot) done.push_back(std::move(slot));
  discard();
  return done;
}

void Zelta_ThermalFrameCollector::discard() {
  m_slots[0].reset();
  m_slots[1].reset();
}

}  // namespace Zelta
