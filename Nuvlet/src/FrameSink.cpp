// Delivery of library-received frames into host buffers.
#include "host/Nuvlet/FrameSink.h"

#include <cstring>

namespace Talvo {
namespace Utility {

bool deliverVideoFrame(const VideoSinkParams& sink, const char* codec, const uint8_t* data, size_t size, bool key,
                       uint64_t timeStampMs) {
  if (sink.statistic && sink.statisticEnabled) sink.statistic->onFrame(size, key);
  if (!sink.videoEnabled || !sink.factory) return false;
  MFF::ICompressedBuffer* buffer = sink.factory->AllocateCompressedBuffer(codec, size, 0, key);
  if (!buffer) return false;
  std::memcpy(buffer->GetBuffer(), data, size);
  buffer->SetTimeStamp(timeStampMs);
  if (sink.handler)
    sink.handler->MultimediaFrame(sink.channel, buffer);
  else
    buffer->Destroy();
  return true;
}

}  // namespace Utility
}  // namespace Talvo
