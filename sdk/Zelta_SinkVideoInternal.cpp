#include "Zelta_SinkVideoInternal.h"

#include "Zelta_Print.h"

namespace Zelta {

Zelta_SinkVideoInternal::Zelta_SinkVideoInternal(std::shared_ptr<Zelta_SinkVideo> next) : m_next(std::move(next)) {
  ZELTA_CHECK(m_next != nullptr);
}

int Zelta_SinkVideoInternal::consume(std::unique_ptr<Zelta_Image> image) {
  if (!image || !image->jpegData() || image->jpegSize() == 0) {
    Zelta_Print::message("buffer contains no usable payload");
    return kNoPayload;
  }
  return m_next->consume(std::move(image));
}

}  // namespace Zelta
