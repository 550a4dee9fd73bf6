// Float matrices whose storage serves frame after frame (a 640 × 480 matrix is 1.2 MB, which
// would otherwise come fresh from the kernel for every frame, page faulted in and cleared).
// A matrix is shared by all who hold it (the step that carries it to the device's thread, the
// event and the host within its call): only when the last holder lets it go, on whatever
// thread that is, do its values come back to the pool, so the values of a matrix still held are
// never written again. At most `kept` vectors wait in the pool, more are freed: the memory held
// stays bounded. Thread-safe; the pool lives as long as the last of its matrices. Declarations
// only; implemented in libNuvlet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "EventRaiser.h"

namespace Talvo {
namespace Utility {

class FloatMatrixPool : public std::enable_shared_from_this<FloatMatrixPool> {
 public:
  static constexpr size_t kDefaultKept = 3;
  static std::shared_ptr<FloatMatrixPool> create(size_t kept = kDefaultKept);

  // `count` values for the next matrix, owned by the caller: those of a released matrix when one
  // waits (not cleared: the caller writes every value), else fresh ones.
  std::vector<float> take(size_t count);
  // The matrix over `values`, which come back here when its last holder releases it. Throws
  // std::invalid_argument as FloatMatrix::create does.
  FloatMatrixPtr matrix(uint64_t timeMs, std::vector<float> values, uint32_t width, uint32_t height);
  // Values that did not become a matrix (a dropped frame).
  void giveBack(std::vector<float> values) noexcept;
  // Vectors waiting for the next take.
  size_t waiting() const;

 private:
  explicit FloatMatrixPool(size_t kept);

  const size_t kept_;
  mutable std::mutex mutex_;
  std::vector<std::vector<float>> idle_;
};

}  // namespace Utility
}  // namespace Talvo
