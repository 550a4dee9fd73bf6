// The stream SDK as its client sees it: create it with the client objects, set up a stream URL,
// queue commands, call stepLoop() in a loop on one thread, close. Commands return their id (0
// when not built, -2 before stream_setup). Not thread-safe: one client thread does everything.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Zelta_AudioInternal.h"
#include "Zelta_AuthorizationHandler.h"
#include "Zelta_EventNotificationListener.h"
#include "Zelta_NetworkConnection.h"
#include "Zelta_SinkAudio.h"
#include "Zelta_SinkVideo.h"

namespace Zelta {

class Zelta_SDK {
 public:
  // Throws the precondition error (" failed check: (notificationListener)", ...) when one of the
  // four client objects is missing. The connection may be null (plain TCP is used).
  static std::unique_ptr<Zelta_SDK> create(std::shared_ptr<Zelta_SinkAudio> audioSink,
                                           std::shared_ptr<Zelta_SinkVideo> videoSink, int imageMode,
                                           std::shared_ptr<Zelta_AuthorizationHandler> authHandler,
                                           std::shared_ptr<Zelta_EventNotificationListener> notificationListener,
                                           std::shared_ptr<Zelta_NetworkConnection> connection = nullptr);
  virtual ~Zelta_SDK() = default;

  // 1 on success, -1 on failure, -2 without a main object.
  virtual int stream_setup(const std::string& url) = 0;
  virtual void stepLoop() = 0;
  // close_remote of the source; -1 without one.
  virtual int close(bool autoReconnect) = 0;
  virtual int connect() = 0;
  // The source's network status (NetStatus: 0 closed ... 4 connected, 6 error); -1 before setup.
  virtual int networkStatus() const = 0;
  virtual void setLogLevel(bool enable, int level) = 0;

  virtual int audioOutput(bool enable) = 0;
  virtual void setAudioOutputName(const std::string& name) = 0;
  virtual int videoEnable(bool enable) = 0;
  virtual int size(int width, int height, bool configMode) = 0;
  virtual int thermalRaw(bool enable) = 0;
  virtual int live() = 0;
  virtual int mode(const std::string& name) = 0;
  virtual int fps(double value) = 0;
  virtual int setRate(double value) = 0;
  virtual int sensor(const std::string& name) = 0;
  virtual int displayMode(const std::string& mode, bool configMode) = 0;
  virtual int ptzClick(int x, int y) = 0;
  virtual int ptzZoom(double factor) = 0;
  virtual int ptzPan(int dx, int dy) = 0;
  virtual int rotorCommand(int cmd, int para1, int para2, int para3, int ptzWindow, bool configMode) = 0;
  virtual int play(int64_t seconds, int64_t microseconds) = 0;
  virtual int pause() = 0;
  virtual int seek(const std::string& wellKnownPosition) = 0;
  virtual int jump(int offset) = 0;
  virtual int show() = 0;

  // The broker's next id, and a command text built by the client with it (queued like the others).
  virtual int getNextCommandId() = 0;
  virtual int sendRawCommand(int id, const std::string& text) = 0;
  // The camera's loudspeaker: its codec, then packets; sample bytes sent.
  virtual void setAudioSendCodec(uint32_t codec) = 0;
  virtual size_t sendAudio(const Zelta_Audio* audio) = 0;
};

}  // namespace Zelta
