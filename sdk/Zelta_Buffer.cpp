#include "Zelta_Buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "Zelta_Print.h"

namespace Zelta {

Zelta_Buffer::Zelta_Buffer(size_t size) {
  if (size == 0) {
    Zelta_Print::message("Warning creating empty buffer");
    return;
  }
  m_storage = static_cast<uint8_t*>(std::malloc(size));
  if (!m_storage) throw std::runtime_error("Failed to allocate buffer");
  m_capacity = size;
  m_owns = true;
}

Zelta_Buffer::Zelta_Buffer(uint8_t* data, size_t size) : m_storage(data), m_capacity(size) {
  const size_t m_bufferSize = size;
  const uint8_t* m_bufferStart = data;
  ZELTA_CHECK(m_bufferSize > 0);
  ZELTA_CHECK(m_bufferStart != nullptr);
}

Zelta_Buffer::Zelta_Buffer(const Zelta_Buffer& other)
    : m_readOffset(other.m_readOffset),
      m_writeOffset(other.m_writeOffset),
      m_peeked(other.m_peeked),
      m_marker(other.m_marker) {
  const uint8_t* m_bufferStart = other.m_storage;
  ZELTA_CHECK(m_bufferStart != nullptr);
  m_storage = static_cast<uint8_t*>(std::malloc(other.m_capacity));
  if (!m_storage) throw std::runtime_error("Failed to allocate buffer");
  std::memcpy(m_storage, other.m_storage, other.m_capacity);
  m_capacity = other.m_capacity;
  m_owns = true;
}

Zelta_Buffer::~Zelta_Buffer() {
  if (m_owns) std::free(m_storage);
}

size_t Zelta_Buffer::grow(size_t size) {
  const size_t target = size == 0 ? m_capacity * 2 : size;
  if (target <= m_capacity) return m_capacity;
  if (m_owns) {
    auto* bigger = static_cast<uint8_t*>(std::realloc(m_storage, target));
    if (!bigger) return m_capacity;
    m_storage = bigger;
  } else {
    Zelta_Print::message("growing buffer that does not own the memory causes implicity memcpy");
    auto* fresh = static_cast<uint8_t*>(std::malloc(target));
    if (!fresh) return m_capacity;
    if (m_storage) std::memcpy(fresh, m_storage, m_capacity);
    m_storage = fresh;
    m_owns = true;
  }
  m_capacity = target;
  return m_capacity;
}

void Zelta_Buffer::commit(size_t n) { m_writeOffset = std::min(m_capacity, m_writeOffset + std::min(n, m_capacity)); }

void Zelta_Buffer::consume(size_t n) {
  m_readOffset = m_readOffset + std::min(n, unread());
  m_peeked = n >= m_peeked ? 0 : m_peeked - n;
}

void Zelta_Buffer::peek(size_t n) { m_peeked = std::min(unread(), m_peeked + std::min(n, unread())); }

void Zelta_Buffer::compact() {
  if (m_readOffset == 0) return;
  const size_t length = unread();
  if (length > 0) std::memmove(m_storage, m_storage + m_readOffset, length);
  m_readOffset = 0;
  m_writeOffset = length;
}

void Zelta_Buffer::clear() {
  m_readOffset = 0;
  m_writeOffset = 0;
  m_peeked = 0;
}

int Zelta_Buffer::write(const uint8_t* data, size_t n) {
  if (freeSpace() < n) {
    Zelta_Print::message("buffer write not possible");
    return -1;
  }
  if (n > 0) std::memcpy(writePointer(), data, n);
  m_writeOffset += n;
  return 1;
}

int Zelta_Buffer::writeGrowing(const uint8_t* data, size_t n) {
  if (freeSpace() < n) {
    if (m_readOffset + freeSpace() <= n)
      grow(m_capacity + n);
    else
      compact();
  }
  return write(data, n);
}

size_t Zelta_Buffer::read(uint8_t* out, size_t n) {
  const size_t count = std::min(n, unread());
  if (count > 0) std::memcpy(out, readPointer(), count);
  consume(count);
  return count;
}

}  // namespace Zelta
