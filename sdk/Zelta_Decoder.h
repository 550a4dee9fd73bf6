// Walks the marker segments of one whole JPEG picture: the frame header gives the picture size,
// the COM segments are recognised by their first bytes ("#:R9IMG" text header, "ZLF\0"
// information block, "ZLM\0" meta block, "ZLT\0" thermal raw data, collected per sensor), tables
// and the scan are checked for their bounds but not decoded (no pixel output). Every length is
// checked against the picture's bytes; a picture whose segments do not fit is dropped.
// One decoder per renderer, on the SDK's thread. Its buffer pool serves the pictures and thermal
// data of frame after frame (see Zelta_BufferPool.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Zelta_ImageInternal.h"
#include "Zelta_ThermalFrameCollector.h"

namespace Zelta {

class Zelta_Decoder {
 public:
  Zelta_Decoder();

  // Decodes the picture's own bytes (image.jpegData()) into the image: size, located blocks,
  // thermal raw data (sensor 0, then 1). False when the picture is broken, empty or cannot be
  // held in memory (and is to be dropped).
  bool decode(Zelta_ImageInternal& image, int imageMode = 0);

  // One marker segment at `data` with `available` bytes up to the picture's end: the bytes it
  // spans (marker included), or 0 when it is broken. Sets `end` at the end-of-image marker.
  size_t decodeSegment(const uint8_t* data, size_t available, Zelta_ImageInternal& image, bool& end);

  // The last "ZLM" payload (from its byte 16 on), kept until the next one.
  const std::vector<uint8_t>& metaData() const { return m_meta; }

  // The pool for the pictures given to decode() and the thermal data it builds.
  const std::shared_ptr<Zelta_FrameBuffers>& buffers() const { return m_buffers; }

 private:
  bool decodeSegments(Zelta_ImageInternal& image, int imageMode);
  size_t scanToEnd(const uint8_t* data, size_t available, size_t headerLength, bool& end);
  void decodeFrameHeader(const uint8_t* payload, size_t length, Zelta_ImageInternal& image);
  void decodeComment(const uint8_t* segment, size_t segmentLength, Zelta_ImageInternal& image);

  std::shared_ptr<Zelta_FrameBuffers> m_buffers;
  Zelta_ThermalFrameCollector m_thermal;
  std::vector<uint8_t> m_meta;
};

}  // namespace Zelta
