// The SDK's renderer: each step hands the queued audio packets (converted) to the audio sink and
// the whole pictures of the packetizer, decoded into image objects, to the video sink chain.
// Pixel planes are not produced: images carry the JPEG bytes, their blocks and thermal data.
// Single-threaded: stepped on the SDK's thread.
#pragma once

#include <memory>

#include "Zelta_Decoder.h"
#include "Zelta_Packetizer.h"
#include "Zelta_SinkAudioWrapper.h"
#include "Zelta_SinkVideo.h"
#include "Zelta_SourceAudio.h"
#include "Zelta_StreamInfo.h"

namespace Zelta {

class Zelta_RendererDirect {
 public:
  // Pictures handed on per step at most, so that one step stays short after a burst.
  static constexpr int kMaxPicturesPerStep = 8;

  // The video sink is the head of the chain (the parser); the audio sink the client's. Throws
  // the precondition error without packetizer, audio source, sinks or stream info.
  Zelta_RendererDirect(std::shared_ptr<Zelta_Packetizer> packetizer, std::shared_ptr<Zelta_SourceAudio> audioSource,
                       std::shared_ptr<Zelta_SinkVideo> videoSink, std::shared_ptr<Zelta_SinkAudio> audioSink,
                       std::shared_ptr<Zelta_StreamInfo> streamInfo, int imageMode = 0);

  // Audio first, then pictures; returns the number of pictures handed to the video sink.
  int step();
  void setLogLevel(int level) { m_logLevel = level; }
  const Zelta_Decoder& decoder() const { return m_decoder; }

 private:
  void renderAudio();
  // False when no whole picture was there.
  bool renderPicture();

  std::shared_ptr<Zelta_Packetizer> m_packetizer;
  std::shared_ptr<Zelta_SourceAudio> m_audioSource;
  std::shared_ptr<Zelta_SinkVideo> m_videoSink;
  Zelta_SinkAudioWrapper m_audioSink;
  std::shared_ptr<Zelta_StreamInfo> m_streamInfo;
  int m_imageMode;
  int m_logLevel = 0;
  Zelta_Decoder m_decoder;
};

}  // namespace Zelta
