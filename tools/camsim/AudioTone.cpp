#include "AudioTone.h"

#include <cmath>
#include <stdexcept>

#include "host/Nuvlet/G711.h"

namespace camsim {

namespace {

constexpr double kToneHz = 1000.0;
constexpr double kAmplitude = 8000.0;

void putBigEndian32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

}  // namespace

std::string ToneGenerator::nextSamples(std::size_t count) {
  std::string samples;
  samples.reserve(count);
  const double step = 2.0 * M_PI * kToneHz / kAudioSampleRate;
  for (std::size_t i = 0; i < count; ++i, ++sampleIndex_) {
    // The tone repeats every 8 samples; the modulo keeps the phase exact forever.
    const double phase = step * static_cast<double>(sampleIndex_ % 8);
    const auto linear = static_cast<std::int16_t>(std::lround(kAmplitude * std::sin(phase)));
    samples.push_back(static_cast<char>(Talvo::Utility::linearToUlaw(linear)));
  }
  return samples;
}

std::string audioBlock(const std::string& payload, std::uint32_t sequence) {
  const std::size_t length = kAudioHeaderSize - 2 + payload.size();
  if (length > 0xFFFF) throw std::invalid_argument("audio payload too long for one block");
  std::string block = {static_cast<char>(0xFF), static_cast<char>(0xED), static_cast<char>(length >> 8),
                       static_cast<char>(length & 0xFF)};
  block += "ULAW";
  putBigEndian32(block, kAudioSampleRate);
  putBigEndian32(block, sequence);
  return block + payload;
}

}  // namespace camsim
