// Where stream and snapshot pictures come from: each picture exists as a key picture (complete
// JPEG) and as a Zelta delta picture (the same without DQT/DHT).
// Live mode encodes the test pattern for each request; ring mode (--unthrottled) encodes
// kRingSize pictures once at start and hands them out in turn, so the simulator's CPU is not
// what limits a benchmark.
// Thread safety: immutable after construction; picture() may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace camsim {

struct EncodedPicture {
  std::string key;    // complete JPEG with its tables
  std::string delta;  // the same without DQT/DHT
};

class PictureSource {
 public:
  PictureSource(int width, int height, int quality, bool preEncodedRing);

  std::shared_ptr<const EncodedPicture> picture(std::uint64_t frame) const;

  int width() const { return width_; }
  int height() const { return height_; }

  static constexpr std::size_t kRingSize = 8;

 private:
  std::shared_ptr<const EncodedPicture> encode(std::uint64_t frame) const;

  const int width_;
  const int height_;
  const int quality_;
  std::vector<std::shared_ptr<const EncodedPicture>> ring_;  // empty in live mode
};

}  // namespace camsim
