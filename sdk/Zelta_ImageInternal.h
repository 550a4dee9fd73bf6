// The SDK's side of a picture: what the decoder and the header parser fill in before the client
// sees it. Used on the SDK's thread.
#pragma once

#include "Zelta_Image.h"

namespace Zelta {

class Zelta_ImageInternal : public Zelta_Image {
 public:
  virtual void setSize(unsigned width, unsigned height) = 0;
  virtual void setTimes(const Zelta_ImageTime& frameTime, const Zelta_ImageTime& secondTime) = 0;
  // Blocks point into the picture's own bytes (jpegData()).
  virtual void setTextHeader(Zelta_Block block) = 0;
  virtual void setInfoBlock(Zelta_Block block) = 0;
  virtual void setMetaBlock(Zelta_Block block) = 0;
  virtual void addThermalRawData(std::shared_ptr<ZL_ThermalRawData> data) = 0;
};

}  // namespace Zelta
