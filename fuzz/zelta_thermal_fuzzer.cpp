// The thermal block path over any bytes: the input is a sequence of blocks, each a little-endian
// 16-bit length and that many bytes (header bytes 8-11 of a ZLT segment, then its data); each is
// wrapped into a COM segment with "ZLT\0" and handed to the collector, whose objects are then
// decoded and converted.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ZL_ThermalRawData.h"
#include "Zelta_Print.h"
#include "Zelta_ThermalFrameCollector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Zelta::Zelta_Print::setSink([](Zelta::Zelta_PrintKind, const std::string&) {});
  Zelta::Zelta_ThermalFrameCollector collector;
  size_t pos = 0;
  while (pos + 2 <= size) {
    const size_t length = data[pos] | data[pos + 1] << 8;
    pos += 2;
    const size_t take = length < size - pos ? length : size - pos;
    const size_t segmentLength = take + 8;
    std::vector<uint8_t> segment = {0xFF,
                                    0xFE,
                                    static_cast<uint8_t>((segmentLength - 2) >> 8),
                                    static_cast<uint8_t>((segmentLength - 2) & 0xFF),
                                    'Z',
                                    'L',
                                    'T',
                                    0};
    segment.insert(segment.end(), data + pos, data + pos + take);
    collector.addSegment(segment.data(), segment.size());
    pos += take;
  }
  for (const auto& sensor : collector.finish()) {
    const auto temperatures = sensor->getTemperatures(Zelta::ZLT_Celsius);
    if (const uint16_t* values = sensor->data()) {
      volatile uint16_t last = values[static_cast<size_t>(sensor->width()) * sensor->height() - 1];
      (void)last;
    }
    sensor->getTemperature(sensor->width() - 1, sensor->height() - 1, Zelta::ZLT_Fahrenheit);
    sensor->getTemperature(sensor->width(), 0, Zelta::ZLT_Celsius);
    (void)temperatures;
  }
  Zelta::Zelta_Print::setSink(nullptr);
  return 0;
}
