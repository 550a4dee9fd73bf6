#include "Zelta_AudioWrapper.h"

#include <cstring>
#include <new>

#include "Zelta_Print.h"

namespace Zelta {

Zelta_AudioWrapper::Zelta_AudioWrapper(uint8_t* data, size_t size, const Zelta_AudioFormat& format,
                                       Zelta_AudioTime time, uint32_t type, bool owns)
    : m_data(data), m_size(size), m_owns(owns) {
  ZELTA_CHECK(data != nullptr);
  m_format = format;
  m_time = time;
  m_type = type;
}

Zelta_AudioWrapper::~Zelta_AudioWrapper() {
  if (m_owns) delete[] m_data;
}

std::unique_ptr<Zelta_AudioWrapper> Zelta_AudioWrapper::clone() const {
  // At least one byte: an empty packet still has an array to own.
  uint8_t* newData = new (std::nothrow) uint8_t[m_size > 0 ? m_size : 1];
  ZELTA_CHECK(newData != nullptr);
  if (m_size > 0) std::memcpy(newData, m_data, m_size);
  return std::make_unique<Zelta_AudioWrapper>(newData, m_size, m_format, m_time, m_type, true);
}

}  // namespace Zelta
