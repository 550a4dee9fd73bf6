// The control side of a stream source: queued APP12 segments (the camera's answers and event
// notifications) and the way back for commands. Called on the SDK's thread.
#pragma once

#include <cstddef>
#include <memory>

#include "Zelta_SourceAsyncNet.h"

namespace Zelta {

class Zelta_Buffer;

class Zelta_EventSource {
 public:
  virtual ~Zelta_EventSource() = default;
  // Same results as Zelta_SourceVideo::readVideo.
  virtual int readControl(Zelta_Buffer* target) = 0;
  // The oldest whole control segment (marker and length included), or null when none is queued.
  virtual std::unique_ptr<Zelta_Buffer> takeControlSegment() = 0;
  virtual size_t queuedControlBytes() const = 0;
  // Sends command bytes on the stream's connection.
  virtual eSendStatus sendCommand(const char* data, size_t length) = 0;
};

}  // namespace Zelta
