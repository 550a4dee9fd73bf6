// The event-stream segment parser and the picture packetizer over any bytes in any receive
// sizes. Input: byte 0 gives the number of receive sizes (1-8), then that many little-endian
// 16-bit sizes (0 counts as 1, used in turn, the last repeating), then the stream bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Zelta_PacketizerEventstream.h"
#include "Zelta_Print.h"
#include "Zelta_SourceESEventStream.h"
#include "tests/sdk/ScriptedConnection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Zelta::Zelta_Print::setSink([](Zelta::Zelta_PrintKind, const std::string&) {});
  const size_t count = (data[0] & 7) + 1;
  if (size < 1 + 2 * count) return 0;
  std::vector<size_t> sizes;
  for (size_t i = 0; i < count; ++i) {
    const size_t value = data[1 + 2 * i] | data[2 + 2 * i] << 8;
    sizes.push_back(value == 0 ? 1 : value);
  }
  const size_t header = 1 + 2 * count;
  auto connection = std::make_shared<ScriptedConnection>();
  auto info = std::make_shared<Zelta::Zelta_StreamInfo>();
  auto source = std::make_shared<Zelta::Zelta_SourceESEventStream>("http://fuzz/control/eventstream.jpg", nullptr,
                                                                   connection, nullptr, info);
  Zelta::Zelta_PacketizerEventstream packetizer(source, info);
  connection->feed(std::string(reinterpret_cast<const char*>(data + header), size - header), sizes);
  for (size_t step = 0; step < size + 2 && !connection->drained(); ++step) {
    Zelta::Zelta_SourceAsyncNet::async_network_loop(source.get());
    Zelta::Zelta_Frame frame;
    while (packetizer.nextFrame(&frame) == 0 && frame.length > 0) {
      volatile uint8_t last = frame.data[frame.length - 1];  // the frame lies inside the buffer
      (void)last;
    }
  }
  while (auto segment = source->takeControlSegment()) {
  }
  while (auto segment = source->takeAudioSegment()) {
  }
  Zelta::Zelta_Print::setSink(nullptr);
  return 0;
}
