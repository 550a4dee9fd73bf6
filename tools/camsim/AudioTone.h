// The microphone's sound: a 1 kHz tone, 8000 samples/s, G.711 u-law, and the 16-byte block
// header the camera puts in front of it after a picture's FF D9.
//
// Block layout (all numbers big-endian):
//   0  FF ED          marker
//   2  length (16 bit) = 14 + payload bytes (counts itself and the rest, as JPEG segments do)
//   4  "ULAW"         codec tag
//   8  8000 (32 bit)  sample rate
//  12  sequence (32 bit), counting blocks of this stream from 0
//  16  payload: u-law bytes, one per sample
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace camsim {

// Continues the tone from where the previous call stopped. One per stream; not thread-safe.
class ToneGenerator {
 public:
  std::string nextSamples(std::size_t count);

 private:
  std::uint64_t sampleIndex_ = 0;
};

constexpr std::size_t kAudioHeaderSize = 16;
constexpr int kAudioSampleRate = 8000;

// Header plus payload; throws std::invalid_argument when the payload does not fit the length.
std::string audioBlock(const std::string& payload, std::uint32_t sequence);

}  // namespace camsim
