#include "Zelta_RendererDirect.h"

#include "Zelta_AudioApp11Buffer.h"
#include "Zelta_Buffer.h"
#include "Zelta_ImageImpl_SDK.h"
#include "Zelta_Print.h"

namespace Zelta {

Zelta_RendererDirect::Zelta_RendererDirect(std::shared_ptr<Zelta_Packetizer> packetizer,
                                           std::shared_ptr<Zelta_SourceAudio> audioSource,
                                           std::shared_ptr<Zelta_SinkVideo> videoSink,
                                           std::shared_ptr<Zelta_SinkAudio> audioSink,
                                           std::shared_ptr<Zelta_StreamInfo> streamInfo, int imageMode)
    : m_packetizer(std::move(packetizer)),
      m_audioSource(std::move(audioSource)),
      m_videoSink(std::move(videoSink)),
      m_audioSink(std::move(audioSink)),
      m_streamInfo(std::move(streamInfo)),
      m_imageMode(imageMode) {
  ZELTA_CHECK(m_packetizer != nullptr);
  ZELTA_CHECK(m_audioSource != nullptr);
  ZELTA_CHECK(m_videoSink != nullptr);
  ZELTA_CHECK(m_streamInfo != nullptr);
}

int Zelta_RendererDirect::step() {
  renderAudio();
  int pictures = 0;
  while (pictures < kMaxPicturesPerStep && renderPicture()) ++pictures;
  return pictures;
}

void Zelta_RendererDirect::renderAudio() {
  while (auto segment = m_audioSource->takeAudioSegment()) {
    const Zelta_AudioApp11Buffer packet(std::move(segment), m_audioSink.sourceFormat());
    if (packet.packetType() == Zelta_AudioPacket_Unknown) {
      Zelta_Print::message(concat("skipping audio buffer with unknown type ", packet.packetType()));
      continue;
    }
    m_audioSink.consume(packet);
  }
}

bool Zelta_RendererDirect::renderPicture() {
  Zelta_Frame frame;
  if (m_packetizer->nextFrame(&frame) != 0 || frame.length == 0) return false;
  auto image = std::make_unique<Zelta_ImageImpl_SDK>(frame.data, frame.length, m_imageMode, m_decoder.buffers());
  if (!m_decoder.decode(*image, m_imageMode)) return true;  // dropped; the next picture may be whole
  if (image->width() != 0) {
    m_streamInfo->setValue(Zelta_StreamInfo::kImageWidth, static_cast<int>(image->width()));
    m_streamInfo->setValue(Zelta_StreamInfo::kImageHeight, static_cast<int>(image->height()));
  }
  m_videoSink->consume(std::move(image));
  return true;
}

}  // namespace Zelta
