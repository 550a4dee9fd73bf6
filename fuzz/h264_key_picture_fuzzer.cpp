// qrmhost serve's key picture of an H.264 channel over any bytes: the decoder must not read past
// them, and what it gives must be a JPEG picture.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "KeyPicture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> picture(data, data + size);  // exact size, so the sanitizer sees overreads
  const auto jpeg = qrmhost::jpegOfH264KeyPicture(picture.data(), picture.size());
  if (jpeg && (jpeg->size() < 4 || (*jpeg)[0] != '\xFF' || (*jpeg)[1] != '\xD8')) std::abort();
  return 0;
}
