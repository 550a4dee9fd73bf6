#include "ZL_ThermalRawData.h"

namespace Zelta {

std::vector<float> ZL_ThermalRawData::getTemperatures(int unit) {
  std::vector<float> out;
  if (!appendTemperatures(unit, out)) out.clear();
  return out;
}

}  // namespace Zelta
