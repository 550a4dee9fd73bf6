#include "Zelta_AudioResampler.h"

#include "Zelta_Print.h"

namespace Zelta {

void Zelta_AudioResampler::resample(const Zelta_Audio& audio, const Zelta_AudioReader* reader,
                                    std::vector<uint8_t>& output, const Zelta_AudioWriter* writer) {
  ZELTA_CHECK(reader != nullptr);
  ZELTA_CHECK(writer != nullptr);
  const size_t channels = audio.format().channels() ? audio.format().channels() : 1;
  const size_t step = reader->bytesPerSample();
  // Whole frames only: a packet cut inside a frame loses that frame's samples.
  const size_t samples = audio.size() / step / channels * channels;
  std::vector<float> in(samples);
  for (size_t i = 0; i < samples; ++i) in[i] = reader->read(audio.data() + i * step);
  const std::vector<float> out = resampleFrames(in, channels);
  const size_t width = writer->bytesPerSample();
  const size_t start = output.size();
  output.resize(start + out.size() * width);
  for (size_t i = 0; i < out.size(); ++i) writer->write(out[i], output.data() + start + i * width);
}

}  // namespace Zelta
