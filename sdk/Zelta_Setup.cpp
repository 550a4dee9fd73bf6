#include "Zelta_Setup.h"

#include <cstdarg>
#include <cstdio>

#include "Zelta_Print.h"

namespace Zelta {
namespace {

// printf into a string; parameters are short (names and numbers).
std::string format(const char* pattern, ...) {
  char text[512];
  va_list args;
  va_start(args, pattern);
  const int length = std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  return length < 0 ? std::string()
                    : std::string(text, static_cast<size_t>(length) < sizeof text ? length : sizeof text - 1);
}

const char* onOff(bool on) { return on ? "on" : "off"; }
const char* trueFalse(bool value) { return value ? "true" : "false"; }

}  // namespace

Zelta_Setup::Zelta_Setup(std::shared_ptr<Zelta_EventBroker> broker, std::shared_ptr<Zelta_RendererDirect> renderer,
                         std::shared_ptr<Zelta_StreamInfo> sInfo)
    : m_broker(std::move(broker)), m_renderer(std::move(renderer)), m_streamInfo(std::move(sInfo)) {
  ZELTA_CHECK(m_streamInfo != nullptr);
  ZELTA_CHECK(m_renderer != nullptr);
  ZELTA_CHECK(m_broker != nullptr);
}

int Zelta_Setup::send(int method, const std::string& params) {
  ZELTA_TRACE(kTraceSetup, Zelta_EventBroker::methodName(method), " ", params);
  return m_broker->sendCommand(method, params);
}

int Zelta_Setup::mode(const std::string& name) {
  return send(Zelta_EventBroker::kMode, format("\"%s\"", name.c_str()));
}

int Zelta_Setup::audioOutput(bool enable) {
  return send(Zelta_EventBroker::kAudioOutput, format("\"%s\"", enable ? m_audioOutputName.c_str() : "off"));
}

int Zelta_Setup::fps(double value) { return send(Zelta_EventBroker::kFps, format("%.2f", value)); }
int Zelta_Setup::setRate(double value) { return send(Zelta_EventBroker::kSetRate, format("%.2f", value)); }

int Zelta_Setup::videoEnable(bool enable) {
  m_videoEnabled = enable;
  return send(Zelta_EventBroker::kVideoEnable, trueFalse(enable));
}

int Zelta_Setup::size(int width, int height, bool configMode) {
  m_width = width;
  m_height = height;
  return send(Zelta_EventBroker::kSize,
              format("{\"w\":%d,\"h\":%d,\"fix\":false,\"configmode\":\"%s\"}", width, height, onOff(configMode)));
}

int Zelta_Setup::sensor(const std::string& name) {
  return send(Zelta_EventBroker::kSensor, format("{\"sensor\":\"%s\",\"configmode\":\"on\"}", name.c_str()));
}

int Zelta_Setup::displayMode(const std::string& mode, bool configMode) {
  return send(Zelta_EventBroker::kDisplayMode,
              format("{\"dm\":\"%s\",\"configmode\":\"%s\"}", mode.c_str(), onOff(configMode)));
}

int Zelta_Setup::ptzClick(int x, int y) {
  return send(Zelta_EventBroker::kPtzClick, format("{\"x\":%d,\"y\":%d}", x, y));
}
int Zelta_Setup::ptzZoom(double factor) { return send(Zelta_EventBroker::kPtzZoom, format("{\"zoom\":%.2f}", factor)); }
int Zelta_Setup::ptzPan(int dx, int dy) {
  return send(Zelta_EventBroker::kPtzPan, format("{\"dx\":%d,\"dy\":%d}", dx, dy));
}

int Zelta_Setup::rotorCommand(int cmd, int para1, int para2, int para3, int ptzWindow, bool configMode) {
  return send(
      Zelta_EventBroker::kRotorCommand,
      format("{\"ver\":1,\"cmd\":%d,\"para1\":%d,\"para2\":%d,\"para3\":%d,\"ptz_window\":%d,\"configmode\":\"%s\"}",
             cmd, para1, para2, para3, ptzWindow, onOff(configMode)));
}

int Zelta_Setup::live() { return send(Zelta_EventBroker::kLive, ""); }
int Zelta_Setup::play(int64_t seconds, int64_t microseconds) {
  return send(Zelta_EventBroker::kPlay, Zelta_EventBroker::playPosition(seconds, microseconds));
}
int Zelta_Setup::play() { return send(Zelta_EventBroker::kPlay, ""); }
int Zelta_Setup::pause() { return send(Zelta_EventBroker::kPause, ""); }
int Zelta_Setup::seek(const std::string& wellKnownPosition) {
  return send(Zelta_EventBroker::kSeek,
              format("{\"unit\": \"WellKnownPosition\",\"name\": \"%s\"}", wellKnownPosition.c_str()));
}
int Zelta_Setup::jump(int offset) {
  return send(Zelta_EventBroker::kJump, format("{\"unit\":\"EventImage\",\"offset\":%d}", offset));
}
int Zelta_Setup::show() { return send(Zelta_EventBroker::kShow, ""); }
int Zelta_Setup::thermalRaw(bool enable) { return send(Zelta_EventBroker::kSetThermalRaw, trueFalse(enable)); }

}  // namespace Zelta
