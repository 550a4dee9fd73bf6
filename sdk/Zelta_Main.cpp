#include "Zelta_Main.h"

#include <stdexcept>

#include "Zelta_NetworkConnectionImpl.h"
#include "Zelta_Print.h"
#include "Zelta_SinkVideoInternal.h"
#include "Zelta_SinkVideoParser.h"

namespace Zelta {

Zelta_Main::Zelta_Main(std::shared_ptr<Zelta_SinkAudio> audioSink, std::shared_ptr<Zelta_SinkVideo> videoSink,
                       int imageMode, std::shared_ptr<Zelta_AuthorizationHandler> authHandler,
                       std::shared_ptr<Zelta_EventNotificationListener> notificationListener,
                       std::shared_ptr<Zelta_NetworkConnection> connection)
    : m_audioSink(audioSink),
      m_videoSink(videoSink),
      m_authHandler(authHandler),
      m_notificationListener(notificationListener),
      m_imageMode(imageMode),
      m_connection(std::move(connection)) {
  Zelta_Print::message("Starting EventStream client SDK 1.1.0-4");
  ZELTA_CHECK(audioSink);
  ZELTA_CHECK(authHandler);
  ZELTA_CHECK(notificationListener);
  ZELTA_CHECK(videoSink);
  m_imageInfo = std::make_shared<Zelta_R9ImageInfo>();
  m_streamInfo = std::make_shared<Zelta_StreamInfo>();
}

Zelta_Main::~Zelta_Main() {
  Zelta_Print::message("cleanup, closing stream");
  if (m_source && m_source->getSocket() > 0) m_source->close_remote(false);
}

int Zelta_Main::stream_setup(const std::string& url) {
  Zelta_Print::message("Initializing streaming module");
  m_streamInfo->reset();
  if (m_source && m_source->getSocket() > 0 && m_source->close_remote(false) != 1)
    Zelta_Print::message("Error closing stream");
  if (!m_connection) m_connection = std::make_shared<Zelta_NetworkConnectionImpl>();
  try {
    buildPipeline(url);
  } catch (const std::exception&) {
    // The failing part has printed why (an unparsable URL, a missing part).
    resetPipeline();
    return -1;
  }
  Zelta_Print::message("Initialized streaming module for " + url);
  return 0;
}

// The parts hold the source; it goes last, and with it its hold on the connection's callbacks.
void Zelta_Main::resetPipeline() {
  m_setup.reset();
  m_audioSender.reset();
  m_broker.reset();
  m_renderer.reset();
  m_packetizer.reset();
  m_source.reset();
}

void Zelta_Main::buildPipeline(const std::string& url) {
  resetPipeline();
  m_source = std::make_shared<Zelta_SourceESEventStream>(url, m_authHandler, m_connection, m_audioSink, m_streamInfo);
  ZELTA_TRACE(kTraceSetup, "Created source for ", url);
  m_packetizer = std::make_shared<Zelta_PacketizerEventstream>(m_source, m_streamInfo);
  Zelta_Print::message("Created stream packetizer");
  auto internal = std::make_shared<Zelta_SinkVideoInternal>(m_videoSink);
  auto parser = std::make_shared<Zelta_SinkVideoParser>(internal, m_streamInfo, m_imageInfo);
  m_renderer =
      std::make_shared<Zelta_RendererDirect>(m_packetizer, m_source, parser, m_audioSink, m_streamInfo, m_imageMode);
  Zelta_Print::message("Created renderer instance, output format: yuv, interleaved");
  m_broker = std::make_shared<Zelta_EventBroker>(m_source, m_notificationListener);
  m_setup = std::make_unique<Zelta_Setup>(m_broker, m_renderer, m_streamInfo);
  m_audioSender = std::make_unique<Zelta_SendAudio>(m_source);
}

void Zelta_Main::stepLoop() {
  if (!m_source) return;
  Zelta_SourceAsyncNet::async_network_loop(m_source.get());
  m_renderer->step();
  m_broker->processControls();
  const std::time_t now = std::time(nullptr);
  if (now != m_lastTick) {
    periodic();
    m_lastTick = now;
  }
}

void Zelta_Main::periodic() {
  ZELTA_TRACE(kTraceNetwork, "status ", m_source->getStatus(), " queues ",
              m_streamInfo->getValue(Zelta_StreamInfo::kVideoQueueCount), "/",
              m_streamInfo->getValue(Zelta_StreamInfo::kAudioQueueCount), "/",
              m_streamInfo->getValue(Zelta_StreamInfo::kControlQueueCount), " fps ",
              m_streamInfo->getValue(Zelta_StreamInfo::kFrameRate));
}

int Zelta_Main::close(bool autoReconnect) { return m_source ? m_source->close_remote(autoReconnect) : -1; }
int Zelta_Main::connect() { return m_source ? m_source->connect_remote() : -1; }

void Zelta_Main::setLogLevel(bool enable, int level) {
  Zelta_Print::setDebugMask(enable ? level : 0);
  if (m_renderer) m_renderer->setLogLevel(enable ? level : 0);
}

}  // namespace Zelta
