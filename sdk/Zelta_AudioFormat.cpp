#include "Zelta_AudioFormat.h"

#include "Zelta_Print.h"

namespace Zelta {

size_t Zelta_AudioFormat::sampleSize() const {
  switch (m_sampleFormat) {
    case 0:
    case 1:
      return 1;
    case 2:
    case 3:
      return 2;
    case 4:
    case 5:
      return 4;
    default:
      Zelta_Print::message("internal sample format, sample size unknown");
      return 0;
  }
}

}  // namespace Zelta
