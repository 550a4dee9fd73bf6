// Sends audio to the camera's loudspeaker over the event stream's connection: packets are
// converted to the output format (A-law 8 kHz or PCM16 16 kHz, chosen by the camera's codec) and
// written as APP11 segments as the camera sends its own: a "ZLS" stream header whenever the
// format changed, then "ZLA" data segments (time stamp in microseconds at byte 12, samples from
// byte 24). Single-threaded: called on the SDK's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Zelta_AudioConvert.h"
#include "Zelta_EventSource.h"

namespace Zelta {

class Zelta_SendAudio {
 public:
  // Sample bytes per APP11 segment (the segment length field counts at most 65 535).
  static constexpr size_t kMaxSamplesPerSegment = 32768;

  // Throws the precondition error without a target.
  explicit Zelta_SendAudio(std::shared_ptr<Zelta_EventSource> target);

  // Chooses the output format for the camera's codec (when it changed).
  void updateConverter(uint32_t codec);
  // Converts and sends one packet; the number of sample bytes sent, 0 when nothing was sent.
  size_t send(const Zelta_Audio* audio);
  const Zelta_AudioFormat& outputFormat() const { return m_output; }

  // The APP11 segments of a stream header and of one data packet (also used by tests).
  static std::string streamHeaderSegment(const Zelta_AudioFormat& format);
  static std::string dataSegment(const uint8_t* samples, size_t count, uint64_t timeUs);

 private:
  bool sendBytes(const std::string& bytes);

  std::shared_ptr<Zelta_EventSource> m_target;
  uint32_t m_codec = Zelta_Codec_Unsupported;
  Zelta_AudioFormat m_output;
  // The samples are converted to 16-bit PCM at the output rate; A-law is encoded from those.
  Zelta_AudioFormat m_converted;
  Zelta_AudioFormat m_convertFrom;
  std::unique_ptr<Zelta_AudioConvert> m_convert;
  bool m_headerSent = false;
};

}  // namespace Zelta
