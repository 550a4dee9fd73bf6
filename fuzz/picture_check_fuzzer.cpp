// The picture checks over any part body: the JPEG marker walk that tells key from delta
// pictures must stay inside the picture.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "PictureCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> picture(data, data + size);  // exact size, so the sanitizer sees overreads
  Vantrel::zeltaFrameKind(picture.data(), picture.size());
  Vantrel::checkPicture(picture.data(), picture.size(), "Zelta");
  Vantrel::checkPicture(picture.data(), picture.size(), "MJPEG");
  return 0;
}
