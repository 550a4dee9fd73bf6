// Converts audio packets from a source format to a target format: reader, resampler (integer
// factor or free), writer; passes packets through unchanged when no conversion is needed or
// possible to decide. Used on the SDK's thread.
#pragma once

#include <memory>

#include "Zelta_AudioReader.h"
#include "Zelta_AudioResampler.h"
#include "Zelta_AudioVector.h"
#include "Zelta_AudioWriter.h"

namespace Zelta {

class Zelta_AudioConvert {
 public:
  // The stream chooses the source rate: rates further apart than this factor are refused, and
  // a packet that would convert into more than kMaxConvertedBytes is dropped.
  static constexpr uint32_t kMaxRateRatio = 24;  // 8 kHz to 192 kHz
  static constexpr size_t kMaxConvertedBytes = 4 << 20;

  // Either format may be null (passthrough). The output keeps the source's channels.
  Zelta_AudioConvert(const Zelta_AudioFormat* source, const Zelta_AudioFormat* target);

  bool passthrough() const { return m_passthrough; }
  bool supported() const { return m_passthrough || (m_reader && m_writer && m_resampler); }
  // The converted packet (the input bytes unchanged in passthrough mode); null when the formats
  // cannot be converted or the packet would become too large.
  std::shared_ptr<Zelta_AudioVector> convert(const Zelta_Audio& audio);

 private:
  bool m_passthrough = false;
  uint32_t m_sourceRate = 0;
  Zelta_AudioFormat m_target;
  std::unique_ptr<Zelta_AudioReader> m_reader;
  std::unique_ptr<Zelta_AudioWriter> m_writer;
  std::unique_ptr<Zelta_AudioResampler> m_resampler;
};

}  // namespace Zelta
