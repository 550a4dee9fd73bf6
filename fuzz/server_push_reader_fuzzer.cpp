// The server-push stream cutter over any bytes a camera may send, fed in the pieces a socket
// would deliver: every cut must lie inside what was fed, and no stage may pass its cap. Where a
// part head announces its length and the stream confirms it, the cut of the announced body must
// be the scan's cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ServerPushReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Vantrel::ServerPushReader reader;
  std::vector<uint8_t> received;
  const size_t piece = 1 + data[0] % 64;  // the first byte chooses how the rest arrives
  size_t stages = 0;
  size_t announced = SIZE_MAX;  // the body length the last part head announced
  for (size_t at = 1; at < size;) {
    const size_t n = std::min(piece, size - at);
    received.insert(received.end(), data + at, data + at + n);
    at += n;
    for (;;) {
      const auto step = reader.feed(received.data(), received.size());
      if (step.status != Vantrel::ServerPushReader::Status::StageDone) break;
      if (step.consume == 0 || step.consume > received.size()) std::abort();
      const auto inside = [&](const Vantrel::ByteRange& range) {
        if (range.empty()) return;
        if (range.data < received.data() || range.data + range.size > received.data() + step.consume) std::abort();
      };
      inside(step.pieces.picture);
      inside(step.pieces.events);
      inside(step.pieces.audio);
      if (!step.isBody && stages++ > 0)
        announced = Vantrel::ServerPushReader::announcedLength(received.data(), step.consume).value_or(SIZE_MAX);
      if (step.isBody && announced != SIZE_MAX &&
          announced + Vantrel::ServerPushReader::kBodyTrailer <= received.size()) {
        const size_t length = announced;
        const auto pieces = Vantrel::ServerPushReader::cutAnnouncedBody(
            received.data(), length, received.data() + length, received.size() - length);
        const auto same = [](const Vantrel::ByteRange& a, const Vantrel::ByteRange& b) {
          return a.data == b.data && a.size == b.size;
        };
        if (pieces && (step.consume != length + Vantrel::ServerPushReader::kBodyTrailer ||
                       !same(pieces->picture, step.pieces.picture) || !same(pieces->events, step.pieces.events) ||
                       !same(pieces->audio, step.pieces.audio) || pieces->hasEvents != step.pieces.hasEvents))
          std::abort();
      }
      if (step.isBody) announced = SIZE_MAX;
      received.erase(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(step.consume));
    }
  }
  return 0;
}
