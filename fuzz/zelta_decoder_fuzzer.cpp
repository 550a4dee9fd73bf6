// The picture decoder over any bytes: the input is one picture (as the packetizer hands it on);
// it is decoded into an image, its blocks are parsed by the video sink parser, and the thermal
// data it collected is converted.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Zelta_Decoder.h"
#include "Zelta_ImageImpl_SDK.h"
#include "Zelta_Print.h"
#include "Zelta_SinkVideoParser.h"
#include "Zelta_StreamInfo.h"

namespace {

class DiscardingSink : public Zelta::Zelta_SinkVideo {
 public:
  int consume(std::unique_ptr<Zelta::Zelta_Image> image) override {
    for (int sensor = 0; sensor < 2; ++sensor)
      if (auto data = image->thermalRawData(sensor)) data->getTemperatures(Zelta::ZLT_Celsius);
    return 1;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Zelta::Zelta_Print::setSink([](Zelta::Zelta_PrintKind, const std::string&) {});
  auto image = std::make_unique<Zelta::Zelta_ImageImpl_SDK>(data, size);
  Zelta::Zelta_Decoder decoder;
  if (decoder.decode(*image)) {
    Zelta::Zelta_SinkVideoParser parser(std::make_shared<DiscardingSink>(),
                                        std::make_shared<Zelta::Zelta_StreamInfo>());
    parser.consume(std::move(image));
  }
  Zelta::Zelta_Print::setSink(nullptr);
  return 0;
}
