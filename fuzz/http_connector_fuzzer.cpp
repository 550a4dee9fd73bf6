// The recording stream reader over any bytes a camera may send, fed in the pieces a socket
// would deliver: every frame handed on lies inside what was fed, audio comes in whole sample
// units, and the reader never keeps more than its cap and one piece.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "HttpConnector.h"

namespace {

class CheckingSink : public Vantrel::PlaybackSink {
 public:
  void videoFrame(const uint8_t* data, size_t size, bool, uint64_t) override {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8 || data[size - 2] != 0xFF || data[size - 1] != 0xD9)
      std::abort();
  }
  void audioFrame(const uint8_t* data, size_t size, const Vantrel::PlaybackAudioFormat& format, uint64_t) override {
    if (size == 0 || format.unitSize == 0 || size % format.unitSize != 0) std::abort();
    volatile uint8_t last = data[size - 1];  // the payload is readable to its end
    (void)last;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  constexpr size_t kCap = 4096;
  CheckingSink sink;
  const Talvo::LoggerOwner logger(static_cast<Talvo::ILogger*>(nullptr), "");
  Vantrel::HttpConnector connector(
      data[0] % 2 ? Vantrel::HttpConnector::Kind::Stream : Vantrel::HttpConnector::Kind::SingleImage, logger, &sink,
      true, true, kCap);
  const size_t piece = 1 + data[1] % 64;  // the second byte chooses how the rest arrives
  for (size_t at = 2; at < size;) {
    const size_t n = std::min(piece, size - at);
    std::vector<uint8_t> copy(data + at, data + at + n);  // the reader must keep its own bytes
    if (connector.process(copy.data(), copy.size())) break;
    at += n;
  }
  return 0;
}
