#include "ZL_ThermalRawData.h"

namespace Zelta {

std::vector<float> ZL_ThermalRawData::getTemperatures(int unit) {
  std::vector<float> out;
  getTemperatures(unit, out);
  return out;
}

bool ZL_ThermalRawData::getTemperatures(int unit, std::vector<float>& out) {
  bool ignored = false;
  return fill(unit, out, ignored);
}

bool ZL_ThermalRawData::getCelsius(std::vector<float>& out, bool& valuesAbove14Bits) {
  return fill(ZLT_Celsius, out, valuesAbove14Bits);
}

bool ZL_ThermalRawData::fill(int unit, std::vector<float>& out, bool& valuesAbove14Bits) {
  uint16_t above = 0;
  const bool filled = fillTemperatures(unit, out, above);
  valuesAbove14Bits = above != 0;
  if (!filled) out.clear();
  return filled;
}

}  // namespace Zelta
