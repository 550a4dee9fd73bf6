// Receives every message of the camera's control channel (answers carry the command id, events
// -1 or their own id). Implemented by the SDK's client; called on the SDK's thread.
#pragma once

#include <cstdint>

namespace Zelta {

class Zelta_EventNotificationListener {
 public:
  virtual ~Zelta_EventNotificationListener() = default;
  virtual void notifyEvent(int32_t id, const char* text) = 0;
};

}  // namespace Zelta
