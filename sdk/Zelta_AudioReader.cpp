#include "Zelta_AudioReader.h"

#include "Zelta_AudioReaderALaw.h"
#include "Zelta_AudioReaderF32LE.h"
#include "Zelta_AudioReaderS16LE.h"

namespace Zelta {

std::unique_ptr<Zelta_AudioReader> Zelta_AudioReader::forFormat(const Zelta_AudioFormat& format) {
  if (format.codec() == Zelta_Codec_ALaw) return std::make_unique<Zelta_AudioReaderALaw>();
  if (format.codec() != Zelta_Codec_PCM16) return nullptr;
  switch (format.sampleFormat()) {
    case 2:
    case 3:
      return std::make_unique<Zelta_AudioReaderS16LE>();
    case 5:
      return std::make_unique<Zelta_AudioReaderF32LE>();
    default:
      return nullptr;
  }
}

}  // namespace Zelta
