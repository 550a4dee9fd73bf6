// Audio sending filters: they know the parameters of an audio stream and take host buffers for
// its payloads. AudioBufferG7xxSendingFilter serves the G.711 family (A-law, u-law, linear).
//
// The frame factory is one of two kinds (FrameFactory, a std::variant):
//  - the host's MFF::IMultimediaFrameFactory* (live channels; not owned, outlives the filter);
//  - an AudioBufferAllocator function (paths that allocate otherwise, and tests).
// Threads: one owner thread (the stream's worker); nothing is synchronised.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include <boost/format.hpp>

#include "host/MFF.h"

namespace Talvo {
namespace Utility {

// Takes a host audio buffer with the arguments of IMultimediaFrameFactory::AllocateAudioBuffer.
using AudioBufferAllocator = std::function<MFF::IAudioBuffer*(const char* format, size_t size, uint64_t timeStamp,
                                                              int32_t bitRate, int32_t encoding)>;
using FrameFactory = std::variant<MFF::IMultimediaFrameFactory*, AudioBufferAllocator>;

// The common part of audio sink filters: the time stamp attached to the next buffers.
class MultimediaBufferSendingFilter {
 public:
  virtual ~MultimediaBufferSendingFilter() = default;

  // One line naming the stream parameters, for the log.
  virtual std::string describeParameters() const = 0;

  void setTimeStamp(uint64_t milliseconds) { timeStamp_ = milliseconds; }
  uint64_t timeStamp() const { return timeStamp_; }

 private:
  uint64_t timeStamp_ = 0;
};

class AudioBufferG7xxSendingFilter : public MultimediaBufferSendingFilter {
 public:
  static constexpr const char* kFormat = "G.711";

  // `encoding` is one of MFF::AUDIO_G7XX_ENCODING_*; other values are kept and described as unknown.
  AudioBufferG7xxSendingFilter(FrameFactory factory, int32_t encoding)
      : factory_(std::move(factory)), encoding_(encoding) {}

  void setBitRate(int32_t bitRate) { bitRate_ = bitRate; }
  void setMultiplicity(int32_t multiplicity) { multiplicity_ = multiplicity; }
  void setEncoding(int32_t encoding) { encoding_ = encoding; }
  // Linear samples from the camera are little endian; the host wants big endian.
  void setConvertLEToBE(bool convert) { convertLEToBE_ = convert; }

  std::optional<int32_t> bitRate() const { return bitRate_; }
  std::optional<int32_t> multiplicity() const { return multiplicity_; }
  int32_t encoding() const { return encoding_; }
  bool convertLEToBE() const { return convertLEToBE_; }

  std::string describeParameters() const override {
    return "G7xx stream parameters. bit_rate: " + orUndefined(bitRate_) +
           ", multiplicity: " + orUndefined(multiplicity_) + ", encoding: " + encodingName(encoding_) +
           ", convertLEToBE: " + (convertLEToBE_ ? "true" : "false");
  }

  // A host buffer of `size` bytes for the next payload, with the filter's time stamp, bit rate
  // (0 when undefined) and encoding; null when the factory has none. The caller owns the buffer.
  MFF::IAudioBuffer* allocate(size_t size) const {
    const int32_t bitRate = bitRate_.value_or(0);
    const uint64_t stamp = timeStamp();
    if (const auto* host = std::get_if<MFF::IMultimediaFrameFactory*>(&factory_))
      return *host ? (*host)->AllocateAudioBuffer(kFormat, size, stamp, bitRate, encoding_) : nullptr;
    const auto& allocator = std::get<AudioBufferAllocator>(factory_);
    return allocator ? allocator(kFormat, size, stamp, bitRate, encoding_) : nullptr;
  }

  // Copies a payload into a host buffer, swapping the bytes of every 16-bit sample when
  // convertLEToBE is set (a trailing odd byte is copied as it is). `to` holds `size` bytes.
  void copyPayload(const uint8_t* from, size_t size, uint8_t* to) const {
    if (!convertLEToBE_) {
      std::copy(from, from + size, to);
      return;
    }
    size_t i = 0;
    for (; i + 1 < size; i += 2) {
      to[i] = from[i + 1];
      to[i + 1] = from[i];
    }
    if (i < size) to[i] = from[i];
  }

  static std::string encodingName(int32_t encoding) {
    switch (encoding) {
      case MFF::AUDIO_G7XX_ENCODING_ALAW:
        return "AUDIO_G7XX_ENCODING_ALAW";
      case MFF::AUDIO_G7XX_ENCODING_ULAW:
        return "AUDIO_G7XX_ENCODING_ULAW";
      case MFF::AUDIO_G7XX_ENCODING_LINEAR:
        return "AUDIO_G7XX_ENCODING_LINEAR";
      default:
        return (boost::format("Unknown audio encoding value:%1%!") % encoding).str();
    }
  }

 private:
  static std::string orUndefined(const std::optional<int32_t>& value) {
    return value ? std::to_string(*value) : "undefined";
  }

  FrameFactory factory_;
  std::optional<int32_t> bitRate_;
  int32_t encoding_;
  bool convertLEToBE_ = false;
  std::optional<int32_t> multiplicity_;
};

}  // namespace Utility
}  // namespace Talvo
