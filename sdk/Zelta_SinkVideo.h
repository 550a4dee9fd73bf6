// Receives the stream's pictures. Implemented by the SDK's client (and by the SDK's own sink
// chain); called on the SDK's thread.
#pragma once

#include <memory>

#include "Zelta_Image.h"

namespace Zelta {

class Zelta_SinkVideo {
 public:
  virtual ~Zelta_SinkVideo() = default;
  // The picture is handed over; the result is the sink's own (the chain passes it back).
  virtual int consume(std::unique_ptr<Zelta_Image> image) = 0;
};

}  // namespace Zelta
