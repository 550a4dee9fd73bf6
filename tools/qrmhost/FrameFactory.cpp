#include "FrameFactory.h"

#include <new>
#include <string>
#include <memory>
#include <vector>

#include "ContractObject.h"

namespace qrmhost {
namespace {

// Bytes, time stamp and the factory's count shared by both buffer kinds.
class BufferStorage {
 public:
  BufferStorage(size_t size, uint64_t timeStamp, std::atomic<long>& liveBuffers)
      : bytes_(new uint8_t[size]), size_(size), timeStamp_(timeStamp), liveBuffers_(liveBuffers) {
    ++liveBuffers_;
  }
  ~BufferStorage() { --liveBuffers_; }

  uint8_t* data() { return bytes_.get(); }
  size_t size() const { return size_; }
  uint64_t timeStamp() const { return timeStamp_; }
  void setTimeStamp(uint64_t milliseconds) { timeStamp_ = milliseconds; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;  // not zeroed: the module writes every byte it hands over
  size_t size_;
  uint64_t timeStamp_;
  std::atomic<long>& liveBuffers_;
};

class CompressedBuffer : public Talvo::MFF::ICompressedBuffer {
 public:
  CompressedBuffer(const char* codecName, size_t size, bool keyFrame, std::atomic<long>& liveBuffers)
      : storage_(size, 0, liveBuffers), codecName_(codecName ? codecName : ""), keyFrame_(keyFrame) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return answerCast<CompressedBuffer, Talvo::MFF::ICompressedBuffer, Talvo::MFF::IMultimediaBuffer, Talvo::IContract>(
        this, typeName);
  }
  void Destroy() override { delete this; }
  uint8_t* GetBuffer() override { return storage_.data(); }
  size_t GetSize() override { return storage_.size(); }
  void SetTimeStamp(uint64_t milliseconds) override { storage_.setTimeStamp(milliseconds); }
  uint64_t GetTimeStamp() override { return storage_.timeStamp(); }
  const char* GetCodecName() override { return codecName_.c_str(); }
  bool IsKeyFrame() override { return keyFrame_; }

 private:
  BufferStorage storage_;
  const std::string codecName_;
  const bool keyFrame_;
};

class AudioBuffer : public Talvo::MFF::IAudioBuffer {
 public:
  AudioBuffer(const char* format, size_t size, uint64_t timeStamp, int32_t bitRate, int32_t encoding,
              std::atomic<long>& liveBuffers)
      : storage_(size, timeStamp, liveBuffers), format_(format ? format : ""), bitRate_(bitRate), encoding_(encoding) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return answerCast<AudioBuffer, Talvo::MFF::IAudioBuffer, Talvo::MFF::IMultimediaBuffer, Talvo::IContract>(this,
                                                                                                              typeName);
  }
  void Destroy() override { delete this; }
  uint8_t* GetBuffer() override { return storage_.data(); }
  size_t GetSize() override { return storage_.size(); }
  void SetTimeStamp(uint64_t milliseconds) override { storage_.setTimeStamp(milliseconds); }
  uint64_t GetTimeStamp() override { return storage_.timeStamp(); }
  const char* GetFormat() override { return format_.c_str(); }
  int32_t GetBitRate() override { return bitRate_; }
  int32_t GetEncoding() override { return encoding_; }

 private:
  BufferStorage storage_;
  const std::string format_;
  const int32_t bitRate_;
  const int32_t encoding_;
};

}  // namespace

void* FrameFactory::QueryContract(const char* typeName) {
  return answerCast<FrameFactory, Talvo::MFF::IMultimediaFrameFactory, Talvo::IContract>(this, typeName);
}

Talvo::MFF::ICompressedBuffer* FrameFactory::AllocateCompressedBuffer(const char* codecName, size_t size, int,
                                                                      bool keyFrame) {
  if (size > kMaxBufferSize) return nullptr;
  // Exceptions must not cross into the module: running out of memory reads "no buffer".
  try {
    return new CompressedBuffer(codecName, size, keyFrame, liveBuffers_);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

Talvo::MFF::IAudioBuffer* FrameFactory::AllocateAudioBuffer(const char* format, size_t size, uint64_t timeStamp,
                                                            int32_t bitRate, int32_t encoding) {
  if (size > kMaxBufferSize) return nullptr;
  try {
    return new AudioBuffer(format, size, timeStamp, bitRate, encoding, liveBuffers_);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace qrmhost
