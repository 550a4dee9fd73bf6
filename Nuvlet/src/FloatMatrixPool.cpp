// Float matrices whose values come back for the next frame when their last holder lets them go.
#include "host/Nuvlet/FloatMatrixPool.h"

namespace Talvo {
namespace Utility {

std::shared_ptr<FloatMatrixPool> FloatMatrixPool::create(size_t kept) {
  return std::shared_ptr<FloatMatrixPool>(new FloatMatrixPool(kept));
}

FloatMatrixPool::FloatMatrixPool(size_t kept) : kept_(kept) { idle_.reserve(kept); }

std::vector<float> FloatMatrixPool::take(size_t count) {
  std::vector<float> values;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_.empty()) {
      values = std::move(idle_.back());
      idle_.pop_back();
    }
  }
  values.resize(count);  // nothing to do while the frame size stays
  return values;
}

FloatMatrixPtr FloatMatrixPool::matrix(uint64_t timeMs, std::vector<float> values, uint32_t width, uint32_t height) {
  FloatMatrix::checkSize(values.size(), width, height);
  auto pool = shared_from_this();
  return FloatMatrixPtr(new FloatMatrix(timeMs, std::move(values), width, height), [pool](FloatMatrix* matrix) {
    pool->giveBack(std::move(matrix->values_));
    delete matrix;
  });
}

void FloatMatrixPool::giveBack(std::vector<float> values) noexcept {
  if (values.capacity() == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (idle_.size() < kept_) idle_.push_back(std::move(values));  // room reserved: does not throw
}

size_t FloatMatrixPool::waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return idle_.size();
}

}  // namespace Utility
}  // namespace Talvo
