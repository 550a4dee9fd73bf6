// A byte array of samples with a format (the default one unless given), no time stamp and the
// data packet type; wrapped or owned as Zelta_AudioWrapper describes.
#pragma once

#include "Zelta_AudioWrapper.h"

namespace Zelta {

class Zelta_AudioArray : public Zelta_AudioWrapper {
 public:
  // Throw the precondition error for null data.
  Zelta_AudioArray(uint8_t* data, size_t size, bool owns);
  Zelta_AudioArray(uint8_t* data, size_t size, const Zelta_AudioFormat& format, bool owns);
};

}  // namespace Zelta
