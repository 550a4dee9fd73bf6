// The control channel of the event stream: numbers and queues outgoing JSON-RPC commands, sends
// them one per step once the camera has greeted ("eventstream" or id 0), reads the camera's
// control segments, extracts each answer's command id and hands every message to the client's
// listener. Single-threaded: commands are added and steps run on the SDK's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "Zelta_EventNotificationListener.h"
#include "Zelta_EventSource.h"

namespace Zelta {

enum Zelta_ReturnCode : int { Zelta_Return_Ok = 1, Zelta_Return_Error = -1 };

class Zelta_EventBroker {
 public:
  enum Method : int {
    kMode = 0,
    kAudioOutput,
    kFps,
    kSetRate,
    kVideoEnable,
    kSize,
    kSensor,
    kDisplayMode,
    kPtzClick,
    kPtzZoom,
    kPtzPan,
    kRotorCommand,
    kLive,
    kPlay,
    kPause,
    kSeek,
    kJump,
    kShow,
    kSetThermalRaw,
    kMethodCount
  };

  // Throws the precondition error without a source; the listener may be empty.
  Zelta_EventBroker(std::shared_ptr<Zelta_EventSource> source,
                    std::shared_ptr<Zelta_EventNotificationListener> listener);
  virtual ~Zelta_EventBroker() = default;

  // The next command id (the first is 2).
  int getNextCommandId() { return ++m_commandId; }
  // Queues a command text; returns 1.
  int addCommand(int id, const char* text);
  // Builds {"method":…,"id":…,"params":[…]} for the method with an already formatted parameter
  // text, queues it and returns its id; 0 for an unknown method ("Invalid option at index <n>").
  int sendCommand(int method, const std::string& params);
  // One step: sends at most one queued command, then reads every queued control segment.
  Zelta_ReturnCode processControls();

  // The number after "id": in a message, -1 without one; throws for a null text.
  static int32_t getControlId(const char* text, size_t length);
  static const char* methodName(int method);
  // The start position of "play": seconds, ".", milliseconds as three digits.
  static std::string playPosition(int64_t seconds, int64_t microseconds);

  bool ready() const { return m_ready; }
  size_t pendingCommands() const { return m_pending.size(); }

 private:
  void sendFront();
  void handleControlSegment(const Zelta_Buffer& segment);

  int m_commandId = 1;
  std::shared_ptr<Zelta_EventSource> m_source;
  std::shared_ptr<Zelta_EventNotificationListener> m_listener;
  std::deque<std::string> m_pending;
  bool m_ready = false;
};

}  // namespace Zelta
