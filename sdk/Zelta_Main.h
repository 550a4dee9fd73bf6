// The SDK's pipeline for one stream: connection, event-stream source, packetizer, renderer with
// its video sink chain, event broker, setup and audio sender. stream_setup builds it for a URL,
// stepLoop runs one processing step, close ends the connection.
// Single-threaded: one client thread creates, steps and closes it; no locks are taken.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "Zelta_AuthorizationHandler.h"
#include "Zelta_EventBroker.h"
#include "Zelta_EventNotificationListener.h"
#include "Zelta_NetworkConnection.h"
#include "Zelta_PacketizerEventstream.h"
#include "Zelta_R9ImageInfo.h"
#include "Zelta_RendererDirect.h"
#include "Zelta_SendAudio.h"
#include "Zelta_Setup.h"
#include "Zelta_SinkAudio.h"
#include "Zelta_SinkVideo.h"
#include "Zelta_SourceESEventStream.h"
#include "Zelta_StreamInfo.h"

namespace Zelta {

class Zelta_Main {
 public:
  // Throws the precondition error when one of the four client objects is missing. Without a
  // connection, stream_setup creates a plain-TCP one.
  Zelta_Main(std::shared_ptr<Zelta_SinkAudio> audioSink, std::shared_ptr<Zelta_SinkVideo> videoSink, int imageMode,
             std::shared_ptr<Zelta_AuthorizationHandler> authHandler,
             std::shared_ptr<Zelta_EventNotificationListener> notificationListener,
             std::shared_ptr<Zelta_NetworkConnection> connection = nullptr);
  ~Zelta_Main();
  Zelta_Main(const Zelta_Main&) = delete;
  Zelta_Main& operator=(const Zelta_Main&) = delete;

  // 0 when the pipeline stands (the source is connecting), -1 when it could not be built.
  int stream_setup(const std::string& url);
  // Network step, renderer step, broker step, and once per second the periodic hook.
  void stepLoop();
  // -1 without a source.
  int close(bool autoReconnect);
  int connect();

  // Null before stream_setup.
  Zelta_Setup* setup() { return m_setup.get(); }
  Zelta_EventBroker* broker() { return m_broker.get(); }
  Zelta_SendAudio* audioSender() { return m_audioSender.get(); }
  Zelta_SourceESEventStream* source() const { return m_source.get(); }
  const std::shared_ptr<Zelta_StreamInfo>& streamInfo() const { return m_streamInfo; }
  void setLogLevel(bool enable, int level);

 private:
  void buildPipeline(const std::string& url);
  void resetPipeline();
  void periodic();

  std::shared_ptr<Zelta_SinkAudio> m_audioSink;
  std::shared_ptr<Zelta_SinkVideo> m_videoSink;
  std::shared_ptr<Zelta_AuthorizationHandler> m_authHandler;
  std::shared_ptr<Zelta_EventNotificationListener> m_notificationListener;
  int m_imageMode;
  std::shared_ptr<Zelta_NetworkConnection> m_connection;
  std::shared_ptr<Zelta_StreamInfo> m_streamInfo;
  std::shared_ptr<Zelta_SourceESEventStream> m_source;
  std::shared_ptr<Zelta_PacketizerEventstream> m_packetizer;
  std::shared_ptr<Zelta_RendererDirect> m_renderer;
  std::shared_ptr<Zelta_EventBroker> m_broker;
  std::unique_ptr<Zelta_Setup> m_setup;
  std::unique_ptr<Zelta_SendAudio> m_audioSender;
  std::shared_ptr<Zelta_R9ImageInfo> m_imageInfo;
  std::time_t m_lastTick = 0;
};

}  // namespace Zelta
