// qrmhost serve's table splice over any picture: the marker walk must stay inside the picture,
// and a picture with tables put in must walk as a JPEG picture again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "JpegTables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> picture(data, data + size);  // exact size, so the sanitizer sees overreads
  const auto tables = qrmhost::jpegTables(picture.data(), picture.size());
  const auto spliced = qrmhost::withJpegTables(picture.data(), picture.size(), tables.value_or(""));
  if (tables && spliced) {
    const auto again = qrmhost::jpegTables(reinterpret_cast<const uint8_t*>(spliced->data()), spliced->size());
    if (!again) std::abort();
  }
  return 0;
}
