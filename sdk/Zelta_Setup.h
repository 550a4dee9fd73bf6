// Turns the client's stream settings into the camera's JSON-RPC commands (queued in the event
// broker, sent once the camera has greeted). Every command returns its id (0 when it was not
// built). Single-threaded: called on the SDK's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Zelta_EventBroker.h"
#include "Zelta_RendererDirect.h"
#include "Zelta_StreamInfo.h"

namespace Zelta {

class Zelta_Setup {
 public:
  // Throws the precondition error when one of them is missing.
  Zelta_Setup(std::shared_ptr<Zelta_EventBroker> broker, std::shared_ptr<Zelta_RendererDirect> renderer,
              std::shared_ptr<Zelta_StreamInfo> sInfo);

  int mode(const std::string& name);
  // Off sends the JSON string "off"; on sends the stored output name.
  int audioOutput(bool enable);
  void setAudioOutputName(std::string name) { m_audioOutputName = std::move(name); }
  int fps(double value);
  int setRate(double value);
  int videoEnable(bool enable);
  int size(int width, int height, bool configMode);
  int sensor(const std::string& name);
  int displayMode(const std::string& mode, bool configMode);
  // Picture coordinates of a click, a zoom factor, a pan step.
  int ptzClick(int x, int y);
  int ptzZoom(double factor);
  int ptzPan(int dx, int dy);
  int rotorCommand(int cmd, int para1, int para2, int para3, int ptzWindow, bool configMode);
  int live();
  // From the position (seconds and microseconds since 1970), or from where the stream stands.
  int play(int64_t seconds, int64_t microseconds);
  int play();
  int pause();
  int seek(const std::string& wellKnownPosition);
  int jump(int offset);
  int show();
  int thermalRaw(bool enable);

  bool videoEnabled() const { return m_videoEnabled; }
  int width() const { return m_width; }
  int height() const { return m_height; }

 private:
  int send(int method, const std::string& params);

  std::shared_ptr<Zelta_EventBroker> m_broker;
  std::shared_ptr<Zelta_RendererDirect> m_renderer;
  std::shared_ptr<Zelta_StreamInfo> m_streamInfo;
  std::string m_audioOutputName = "on";
  bool m_videoEnabled = true;
  int m_width = 0;
  int m_height = 0;
};

}  // namespace Zelta
