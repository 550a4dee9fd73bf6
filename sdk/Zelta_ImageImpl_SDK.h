// A picture built by the renderer: owns a copy of the JPEG bytes (the packetizer's frame is only
// valid until its next call), the located blocks point into that copy. Pixel planes are not
// decoded (image mode 0). The copy's buffer comes from the decoder's pool and goes back there
// when the image ends, on the thread of its last owner.
#pragma once

#include <memory>

#include "Zelta_BufferPool.h"

#include "Zelta_ImageInternal.h"

namespace Zelta {

enum Zelta_ImageMode : int { Zelta_ImageMode_Jpeg = 0 };

class Zelta_ImageImpl_SDK : public Zelta_ImageInternal {
 public:
  // The buffer comes from `buffers` (a fresh one when null).
  Zelta_ImageImpl_SDK(const uint8_t* jpeg, size_t length, int imageMode = Zelta_ImageMode_Jpeg,
                      std::shared_ptr<Zelta_FrameBuffers> buffers = nullptr);
  ~Zelta_ImageImpl_SDK() override;
  Zelta_ImageImpl_SDK(const Zelta_ImageImpl_SDK&) = delete;
  Zelta_ImageImpl_SDK& operator=(const Zelta_ImageImpl_SDK&) = delete;

  const uint8_t* jpegData() const override { return m_jpeg.data(); }
  size_t jpegSize() const override { return m_jpeg.size(); }
  unsigned width() const override { return m_width; }
  unsigned height() const override { return m_height; }
  Zelta_ImageTime frameTime() const override { return m_frameTime; }
  Zelta_ImageTime secondTime() const override { return m_secondTime; }
  Zelta_Block textHeader() const override { return m_textHeader; }
  Zelta_Block infoBlock() const override { return m_infoBlock; }
  Zelta_Block metaBlock() const override { return m_metaBlock; }
  std::shared_ptr<ZL_ThermalRawData> thermalRawData(int sensor) const override;

  void setSize(unsigned width, unsigned height) override;
  void setTimes(const Zelta_ImageTime& frameTime, const Zelta_ImageTime& secondTime) override;
  void setTextHeader(Zelta_Block block) override { m_textHeader = block; }
  void setInfoBlock(Zelta_Block block) override { m_infoBlock = block; }
  void setMetaBlock(Zelta_Block block) override { m_metaBlock = block; }
  void addThermalRawData(std::shared_ptr<ZL_ThermalRawData> data) override;

  int imageMode() const { return m_imageMode; }

 private:
  std::shared_ptr<Zelta_FrameBuffers> m_buffers;
  Zelta_RawBuffer<uint8_t> m_jpeg;
  int m_imageMode;
  unsigned m_width = 0;
  unsigned m_height = 0;
  Zelta_ImageTime m_frameTime;
  Zelta_ImageTime m_secondTime;
  Zelta_Block m_textHeader;
  Zelta_Block m_infoBlock;
  Zelta_Block m_metaBlock;
  std::shared_ptr<ZL_ThermalRawData> m_thermal[2];
};

}  // namespace Zelta
