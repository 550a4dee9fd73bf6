#include "Zelta_AudioWriter.h"

#include "Zelta_AudioWriterF32.h"
#include "Zelta_AudioWriterS16.h"
#include "Zelta_AudioWriterS32.h"
#include "Zelta_AudioWriterU8.h"

namespace Zelta {

std::unique_ptr<Zelta_AudioWriter> Zelta_AudioWriter::forFormat(const Zelta_AudioFormat& format) {
  if (format.codec() != Zelta_Codec_PCM16) return nullptr;
  switch (format.sampleFormat()) {
    case 0:
    case 1:
      return std::make_unique<Zelta_AudioWriterU8>();
    case 2:
    case 3:
      return std::make_unique<Zelta_AudioWriterS16>();
    case 4:
      return std::make_unique<Zelta_AudioWriterS32>();
    case 5:
      return std::make_unique<Zelta_AudioWriterF32>();
    default:
      return nullptr;
  }
}

}  // namespace Zelta
