#include "Zelta_SinkVideoParser.h"

#include "Zelta_ImageInternal.h"
#include "Zelta_Print.h"

namespace Zelta {

Zelta_SinkVideoParser::Zelta_SinkVideoParser(std::shared_ptr<Zelta_SinkVideo> nextSink,
                                             std::shared_ptr<Zelta_StreamInfo> streamInfo,
                                             std::shared_ptr<Zelta_R9ImageInfo> imageInfo)
    : m_nextSink(std::move(nextSink)), m_streamInfo(std::move(streamInfo)), m_imageInfo(std::move(imageInfo)) {
  ZELTA_CHECK(m_nextSink != nullptr);
  ZELTA_CHECK(m_streamInfo != nullptr);
  if (!m_imageInfo) m_imageInfo = std::make_shared<Zelta_R9ImageInfo>();
}

int Zelta_SinkVideoParser::parseImage(Zelta_ImageInternal& image) {
  const Zelta_Block text = image.textHeader();
  const Zelta_Block info = image.infoBlock();
  const int result = m_imageInfo->parseBlocks(text.data, text.length, info.data, info.length);
  if (info) {
    image.setTimes(m_imageInfo->frameTime(), m_imageInfo->secondTime());
    m_streamInfo->addFrameTime(m_imageInfo->frameTime().seconds, m_imageInfo->frameTime().microseconds);
  }
  if (result == 2) Zelta_Print::message("No ZLF header found in frame? Timestamps will be incorrect!");
  return result;
}

int Zelta_SinkVideoParser::consume(std::unique_ptr<Zelta_Image> image) {
  auto* internal = dynamic_cast<Zelta_ImageInternal*>(image.get());
  if (!internal || parseImage(*internal) == 2) Zelta_Print::message("error parsing R9IMG frame headers of image");
  return m_nextSink->consume(std::move(image));
}

}  // namespace Zelta
