// One picture of the stream as the client's video sink receives it: the JPEG bytes, the picture
// size, its two time stamps (from the "ZLF" block) and the thermal raw data of each sensor.
// Handed to the sink as an owned object; read on the thread the sink runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ZL_ThermalRawData.h"
#include "Zelta_R9ImageInfo.h"

namespace Zelta {

// A located block inside the picture's bytes (null and 0 when the picture has none).
struct Zelta_Block {
  const uint8_t* data = nullptr;
  size_t length = 0;
  explicit operator bool() const { return data != nullptr; }
};

class Zelta_Image {
 public:
  virtual ~Zelta_Image() = default;
  virtual const uint8_t* jpegData() const = 0;
  virtual size_t jpegSize() const = 0;
  // From the picture's frame header; 0 when it has none.
  virtual unsigned width() const = 0;
  virtual unsigned height() const = 0;
  virtual Zelta_ImageTime frameTime() const = 0;
  virtual Zelta_ImageTime secondTime() const = 0;
  // COM payloads from their prefix on: "#:R9IMG" text header, "ZLF" information block; the
  // "ZLM" block from payload byte 16 on.
  virtual Zelta_Block textHeader() const = 0;
  virtual Zelta_Block infoBlock() const = 0;
  virtual Zelta_Block metaBlock() const = 0;
  // The sensor's thermal raw data (0 or 1), null when the picture carries none.
  virtual std::shared_ptr<ZL_ThermalRawData> thermalRawData(int sensor) const = 0;
};

}  // namespace Zelta
