// An audio format read from the camera's stream header ("ZLS" packet): little-endian sample rate
// (bytes 0-3), codec tag " P16" or "alaw" (bytes 4-7), sample format (byte 8: 0 one byte, 1 two
// bytes) and channels (byte 9).
#pragma once

#include "Zelta_AudioFormat.h"

namespace Zelta {

class Zelta_AudioFormatInternal : public Zelta_AudioFormat {
 public:
  static constexpr size_t kStreamHeaderSize = 10;

  using Zelta_AudioFormat::Zelta_AudioFormat;
  // Reads a stream header of `length` bytes; throws the precondition error for a missing or
  // short one.
  Zelta_AudioFormatInternal(const uint8_t* format, size_t length);
};

}  // namespace Zelta
