// The last link of the SDK's video sink chain: passes pictures that carry bytes to the client's
// sink. Single-threaded.
#pragma once

#include <memory>

#include "Zelta_SinkVideo.h"

namespace Zelta {

class Zelta_SinkVideoInternal : public Zelta_SinkVideo {
 public:
  static constexpr int kNoPayload = -3;

  // Throws the precondition error without a next sink.
  explicit Zelta_SinkVideoInternal(std::shared_ptr<Zelta_SinkVideo> next);
  // The next sink's result; kNoPayload ("buffer contains no usable payload") for an empty picture.
  int consume(std::unique_ptr<Zelta_Image> image) override;

 private:
  std::shared_ptr<Zelta_SinkVideo> m_next;
};

}  // namespace Zelta
