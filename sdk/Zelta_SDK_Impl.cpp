#include "Zelta_SDK_Impl.h"

namespace Zelta {

std::unique_ptr<Zelta_SDK> Zelta_SDK::create(std::shared_ptr<Zelta_SinkAudio> audioSink,
                                             std::shared_ptr<Zelta_SinkVideo> videoSink, int imageMode,
                                             std::shared_ptr<Zelta_AuthorizationHandler> authHandler,
                                             std::shared_ptr<Zelta_EventNotificationListener> notificationListener,
                                             std::shared_ptr<Zelta_NetworkConnection> connection) {
  return std::make_unique<Zelta_SDK_Impl>(
      std::make_unique<Zelta_Main>(std::move(audioSink), std::move(videoSink), imageMode, std::move(authHandler),
                                   std::move(notificationListener), std::move(connection)));
}

Zelta_SDK_Impl::Zelta_SDK_Impl(std::unique_ptr<Zelta_Main> main) : m_main(std::move(main)) {}

template <typename Call>
int Zelta_SDK_Impl::withSetup(Call call) {
  Zelta_Setup* setup = m_main ? m_main->setup() : nullptr;
  return setup ? call(*setup) : kNoMain;
}

int Zelta_SDK_Impl::stream_setup(const std::string& url) {
  if (!m_main) return kNoMain;
  return m_main->stream_setup(url) == 0 ? 1 : -1;
}

void Zelta_SDK_Impl::stepLoop() {
  if (m_main) m_main->stepLoop();
}

int Zelta_SDK_Impl::close(bool autoReconnect) { return m_main ? m_main->close(autoReconnect) : -1; }
int Zelta_SDK_Impl::connect() { return m_main ? m_main->connect() : -1; }
int Zelta_SDK_Impl::networkStatus() const {
  const Zelta_SourceESEventStream* source = m_main ? m_main->source() : nullptr;
  return source ? source->getStatus() : -1;
}

void Zelta_SDK_Impl::setLogLevel(bool enable, int level) {
  if (m_main) m_main->setLogLevel(enable, level);
}

int Zelta_SDK_Impl::audioOutput(bool enable) {
  return withSetup([&](Zelta_Setup& s) { return s.audioOutput(enable); });
}
void Zelta_SDK_Impl::setAudioOutputName(const std::string& name) {
  withSetup([&](Zelta_Setup& s) {
    s.setAudioOutputName(name);
    return 0;
  });
}
int Zelta_SDK_Impl::videoEnable(bool enable) {
  return withSetup([&](Zelta_Setup& s) { return s.videoEnable(enable); });
}
int Zelta_SDK_Impl::size(int width, int height, bool configMode) {
  return withSetup([&](Zelta_Setup& s) { return s.size(width, height, configMode); });
}
int Zelta_SDK_Impl::thermalRaw(bool enable) {
  return withSetup([&](Zelta_Setup& s) { return s.thermalRaw(enable); });
}
int Zelta_SDK_Impl::live() {
  return withSetup([&](Zelta_Setup& s) { return s.live(); });
}
int Zelta_SDK_Impl::mode(const std::string& name) {
  return withSetup([&](Zelta_Setup& s) { return s.mode(name); });
}
int Zelta_SDK_Impl::fps(double value) {
  return withSetup([&](Zelta_Setup& s) { return s.fps(value); });
}
int Zelta_SDK_Impl::setRate(double value) {
  return withSetup([&](Zelta_Setup& s) { return s.setRate(value); });
}
int Zelta_SDK_Impl::sensor(const std::string& name) {
  return withSetup([&](Zelta_Setup& s) { return s.sensor(name); });
}
int Zelta_SDK_Impl::displayMode(const std::string& mode, bool configMode) {
  return withSetup([&](Zelta_Setup& s) { return s.displayMode(mode, configMode); });
}
int Zelta_SDK_Impl::ptzClick(int x, int y) {
  return withSetup([&](Zelta_Setup& s) { return s.ptzClick(x, y); });
}
int Zelta_SDK_Impl::ptzZoom(double factor) {
  return withSetup([&](Zelta_Setup& s) { return s.ptzZoom(factor); });
}
int Zelta_SDK_Impl::ptzPan(int dx, int dy) {
  return withSetup([&](Zelta_Setup& s) { return s.ptzPan(dx, dy); });
}
int Zelta_SDK_Impl::rotorCommand(int cmd, int para1, int para2, int para3, int ptzWindow, bool configMode) {
  return withSetup([&](Zelta_Setup& s) { return s.rotorCommand(cmd, para1, para2, para3, ptzWindow, configMode); });
}
int Zelta_SDK_Impl::play(int64_t seconds, int64_t microseconds) {
  return withSetup([&](Zelta_Setup& s) { return s.play(seconds, microseconds); });
}
int Zelta_SDK_Impl::pause() {
  return withSetup([&](Zelta_Setup& s) { return s.pause(); });
}
int Zelta_SDK_Impl::seek(const std::string& wellKnownPosition) {
  return withSetup([&](Zelta_Setup& s) { return s.seek(wellKnownPosition); });
}
int Zelta_SDK_Impl::jump(int offset) {
  return withSetup([&](Zelta_Setup& s) { return s.jump(offset); });
}
int Zelta_SDK_Impl::show() {
  return withSetup([&](Zelta_Setup& s) { return s.show(); });
}

int Zelta_SDK_Impl::getNextCommandId() {
  Zelta_EventBroker* broker = m_main ? m_main->broker() : nullptr;
  return broker ? broker->getNextCommandId() : kNoMain;
}

int Zelta_SDK_Impl::sendRawCommand(int id, const std::string& text) {
  Zelta_EventBroker* broker = m_main ? m_main->broker() : nullptr;
  return broker ? broker->addCommand(id, text.c_str()) : kNoMain;
}

void Zelta_SDK_Impl::setAudioSendCodec(uint32_t codec) {
  if (Zelta_SendAudio* sender = m_main ? m_main->audioSender() : nullptr) sender->updateConverter(codec);
}

size_t Zelta_SDK_Impl::sendAudio(const Zelta_Audio* audio) {
  Zelta_SendAudio* sender = m_main ? m_main->audioSender() : nullptr;
  return sender ? sender->send(audio) : 0;
}

}  // namespace Zelta
