// The first link of the SDK's video sink chain: parses the picture's "#:R9IMG" and "ZLF" blocks
// (located by the decoder), stores the time stamps into the picture and records the frame time in
// the stream info, then hands the picture on, parsed or not. Single-threaded.
#pragma once

#include <memory>

#include "Zelta_R9ImageInfo.h"
#include "Zelta_SinkVideo.h"
#include "Zelta_StreamInfo.h"

namespace Zelta {

class Zelta_ImageInternal;

class Zelta_SinkVideoParser : public Zelta_SinkVideo {
 public:
  // Throws the precondition error without a next sink or stream info.
  Zelta_SinkVideoParser(std::shared_ptr<Zelta_SinkVideo> nextSink, std::shared_ptr<Zelta_StreamInfo> streamInfo,
                        std::shared_ptr<Zelta_R9ImageInfo> imageInfo = nullptr);
  int consume(std::unique_ptr<Zelta_Image> image) override;

  // 1 with a text header, 0 with only an information block, 2 with neither.
  int parseImage(Zelta_ImageInternal& image);
  const Zelta_R9ImageInfo& imageInfo() const { return *m_imageInfo; }

 private:
  std::shared_ptr<Zelta_SinkVideo> m_nextSink;
  std::shared_ptr<Zelta_StreamInfo> m_streamInfo;
  std::shared_ptr<Zelta_R9ImageInfo> m_imageInfo;
};

}  // namespace Zelta
