#include "Zelta_Packetizer.h"

#include "Zelta_Print.h"

namespace Zelta {

Zelta_Packetizer::Zelta_Packetizer(std::shared_ptr<Zelta_SourceVideo> source,
                                   std::shared_ptr<Zelta_StreamInfo> streamInfo)
    : m_source(std::move(source)),
      m_streamInfo(streamInfo ? std::move(streamInfo) : std::make_shared<Zelta_StreamInfo>()),
      m_buffer(kInitialBufferSize) {
  const auto& stream_source = m_source;
  ZELTA_CHECK(stream_source != nullptr);
}

Zelta_Packetizer::~Zelta_Packetizer() = default;

bool Zelta_Packetizer::fill(bool* pictureEnded) {
  m_buffer.compact();
  if (m_buffer.freeSpace() == 0) m_buffer.grow();
  const int result =
      pictureEnded ? m_source->readVideoPicture(&m_buffer, pictureEnded) : m_source->readVideo(&m_buffer);
  switch (result) {
    case 0:
      m_fillState = kDataAvailable;
      return true;
    case 2:
      m_fillState = kMustGrow;
      return m_buffer.grow() > m_buffer.writeOffset();
    case 1:
      if (!m_source->deliversMore() && m_buffer.unread() == 0) m_fillState = kSourceExhausted;
      return false;
    default:
      Zelta_Print::message("Error accessing source");
      return false;
  }
}

}  // namespace Zelta
