#include "ZL_ThermalRawData.h"

namespace Zelta {

std::vector<float> ZL_ThermalRawData::getTemperatures(int unit) {
  std::vector<float> out;
  getTemperatures(unit, out);
  return out;
}

bool ZL_ThermalRawData::getTemperatures(int unit, std::vector<float>& out) {
  if (fillTemperatures(unit, out)) return true;
  out.clear();
  return false;
}

}  // namespace Zelta
