#include "PictureSource.h"

#include "JpegEncoder.h"
#include "JpegSegments.h"
#include "TestPattern.h"

namespace camsim {

PictureSource::PictureSource(int width, int height, int quality, bool preEncodedRing)
    : width_(width), height_(height), quality_(quality) {
  if (!preEncodedRing) return;
  for (std::size_t frame = 0; frame < kRingSize; ++frame) ring_.push_back(encode(frame));
}

std::shared_ptr<const EncodedPicture> PictureSource::picture(std::uint64_t frame) const {
  if (!ring_.empty()) return ring_[frame % ring_.size()];
  return encode(frame);
}

std::shared_ptr<const EncodedPicture> PictureSource::encode(std::uint64_t frame) const {
  auto picture = std::make_shared<EncodedPicture>();
  picture->key = encodeJpeg(renderTestPattern(width_, height_, frame), width_, height_, quality_);
  picture->delta = stripTables(picture->key);
  return picture;
}

}  // namespace camsim
