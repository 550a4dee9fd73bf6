// Host frame buffers and their factory. Declarations only.
// A buffer handed to the host with MultimediaFrame belongs to the host from then on; a buffer the
// driver does not deliver it ends with Destroy().
#pragma once

#include <cstddef>
#include <cstdint>

#include "Contract.h"

namespace Talvo {
namespace MFF {

class IMultimediaBuffer : public IContract {
 public:
  virtual void Destroy() = 0;
  virtual uint8_t* GetBuffer() = 0;  // writable bytes, GetSize() of them
  virtual size_t GetSize() = 0;
  virtual void SetTimeStamp(uint64_t milliseconds) = 0;
  virtual uint64_t GetTimeStamp() = 0;
};

class ICompressedBuffer : public IMultimediaBuffer {
 public:
  virtual const char* GetCodecName() = 0;
  virtual bool IsKeyFrame() = 0;
};

// Audio encodings of the G.711 family as the driver names them to the host.
enum AudioEncoding : int32_t {
  AUDIO_G7XX_ENCODING_ALAW = 0,
  AUDIO_G7XX_ENCODING_ULAW = 1,
  AUDIO_G7XX_ENCODING_LINEAR = 2,
};

class IAudioBuffer : public IMultimediaBuffer {
 public:
  virtual const char* GetFormat() = 0;
  virtual int32_t GetBitRate() = 0;
  virtual int32_t GetEncoding() = 0;
};

class IMultimediaFrameFactory : public IContract {
 public:
  // Null when the host has no buffer to give.
  virtual ICompressedBuffer* AllocateCompressedBuffer(const char* codecName, size_t size, int reserved,
                                                      bool keyFrame) = 0;
  virtual IAudioBuffer* AllocateAudioBuffer(const char* format, size_t size, uint64_t timeStamp, int32_t bitRate,
                                            int32_t encoding) = 0;
};

}  // namespace MFF
}  // namespace Talvo
