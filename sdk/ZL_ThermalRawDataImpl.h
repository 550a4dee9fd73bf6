// Collects the "ZLT" blocks of one sensor for one picture: checks that each block continues the
// first (index, bit depth, gain, sensor, radiometry, compression, size), decompresses on first
// access (LZ4 block, safe variant) and reads pixel i as low plane byte i + 256 × high plane byte i
// (re-interleaved into 16-bit values when data() is asked for). Data shorter than
// width × height × 2 yields no temperatures (one message). The collected bytes are bounded by the
// 16 block indices a header can name. Its buffers come from the decoder's pool and go back there
// when the object ends, on the thread that releases it last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ZL_ThermalRawData.h"
#include "Zelta_BufferPool.h"

namespace Zelta {

class ZL_ThermalRawDataImpl : public ZL_ThermalRawData {
 public:
  // Header bytes of a block: offsets 0-11 of the COM segment (0xFF 0xFE, length, "ZLT\0", fields).
  static constexpr size_t kHeaderSize = 12;

  // Reads the fields from the first block's header (kHeaderSize bytes). Buffers come from
  // `buffers` (from a pool of this object's own when null).
  explicit ZL_ThermalRawDataImpl(const uint8_t* header, std::shared_ptr<Zelta_FrameBuffers> buffers = nullptr);
  ~ZL_ThermalRawDataImpl() override;
  ZL_ThermalRawDataImpl(const ZL_ThermalRawDataImpl&) = delete;
  ZL_ThermalRawDataImpl& operator=(const ZL_ThermalRawDataImpl&) = delete;

  // Appends the block's pixel data when its header continues this object; false (and the block
  // dropped) otherwise.
  bool appendBlock(const uint8_t* header, const uint8_t* data, size_t length);

  int bitDepth() const override { return m_bitDepth; }
  int sensor() const override { return m_sensor; }
  int gain() const override { return m_gain; }
  bool advancedRadiometry() const override { return m_advancedRadiometry; }
  unsigned width() const override { return m_width; }
  unsigned height() const override { return m_height; }
  size_t dataSize() override;
  const uint16_t* data() override;
  float getTemperature(unsigned x, unsigned y, int unit) override;

  bool compressed() const { return m_compressed; }
  size_t expectedSize() const { return m_expectedSize; }
  int expectedBlockIndex() const { return m_expectedIndex; }

  // The bit depth field of a header; throws the precondition error for a null header.
  static int readBitDepth(const uint8_t* header);

 protected:
  bool fillTemperatures(int unit, std::vector<float>& out, uint16_t& above) override;

 private:
  struct Fields {
    int version, index, sensor, bitDepth, gain;
    bool compressed, advancedRadiometry;
    unsigned width, height;
  };
  static Fields readFields(const uint8_t* header);
  bool headerMatches(const Fields& block) const;
  // Decompresses and builds the pixel values once; true when width × height values are there.
  bool decode();
  void decompress();
  uint16_t rawAt(size_t i) const;

  std::shared_ptr<Zelta_FrameBuffers> m_buffers;
  int m_expectedIndex = 0;
  size_t m_expectedSize = 0;
  int m_bitDepth = 0;
  int m_sensor = 0;
  bool m_advancedRadiometry = false;
  bool m_compressed = false;
  int m_gain = 0;
  unsigned m_width = 0;
  unsigned m_height = 0;
  // As collected (compressed, or little-endian pairs); after decompression the two byte planes.
  Zelta_RawBuffer<uint8_t> m_data;
  bool m_planar = false;
  size_t m_pixelCount = 0;             // pixel values in m_data once decoded
  Zelta_RawBuffer<uint16_t> m_pixels;  // built for data() only
  bool m_decoded = false;
  bool m_usable = false;
};

}  // namespace Zelta
