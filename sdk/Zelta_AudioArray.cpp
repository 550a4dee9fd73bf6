#include "Zelta_AudioArray.h"

namespace Zelta {

Zelta_AudioArray::Zelta_AudioArray(uint8_t* data, size_t size, bool owns)
    : Zelta_AudioArray(data, size, Zelta_AudioFormat(), owns) {}

Zelta_AudioArray::Zelta_AudioArray(uint8_t* data, size_t size, const Zelta_AudioFormat& format, bool owns)
    : Zelta_AudioWrapper(data, size, format, Zelta_AudioTime{}, Zelta_AudioPacket_Data, owns) {}

}  // namespace Zelta
