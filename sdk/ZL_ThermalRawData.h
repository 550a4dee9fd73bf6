// One thermal sensor's raw values for one picture, and their conversion into temperatures.
// Objects are built by the picture decoder and handed to the image; readers call them on the
// SDK's (or the image owner's) thread, one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Zelta {

enum ZLT_BitDepth : int { ZLT_BitDepth_14 = 0 };
enum ZLT_TemperatureUnit : int { ZLT_Celsius = 0, ZLT_Fahrenheit = 1 };

class ZL_ThermalRawData {
 public:
  virtual ~ZL_ThermalRawData() = default;
  virtual int bitDepth() const = 0;
  virtual int sensor() const = 0;
  virtual int gain() const = 0;
  virtual bool advancedRadiometry() const = 0;
  virtual unsigned width() const = 0;
  virtual unsigned height() const = 0;
  // Bytes of pixel data (decompressed on first access).
  virtual size_t dataSize() = 0;
  // width × height values in row order (low 14 bits raw), or null when the data is unusable.
  virtual const uint16_t* data() = 0;
  // NaN when the pixel has no temperature.
  virtual float getTemperature(unsigned x, unsigned y, int unit) = 0;

  // Every pixel's temperature in row order; empty when the data yields none.
  std::vector<float> getTemperatures(int unit);
  // The same into the caller's vector (its storage reused frame after frame); false and `out`
  // emptied when the data yields none.
  bool getTemperatures(int unit, std::vector<float>& out);
  // Celsius as getTemperatures(ZLT_Celsius, out) gives them, and whether any raw value had bits
  // set above the 14 (masked off in `out`; a sensor sends none, so they mark a broken frame).
  bool getCelsius(std::vector<float>& out, bool& valuesAbove14Bits);

 protected:
  // Resizes `out` to width × height temperatures (its earlier values overwritten, not cleared);
  // false when there are none. `above`: the bits above the 14 of all raw values when Celsius
  // were computed from them, else 0.
  virtual bool fillTemperatures(int unit, std::vector<float>& out, uint16_t& above) = 0;

 private:
  bool fill(int unit, std::vector<float>& out, bool& valuesAbove14Bits);
};

}  // namespace Zelta
