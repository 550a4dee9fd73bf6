// A byte buffer with a read offset, a write offset and a peek mark, shared by the whole SDK.
// The buffer either owns its storage (malloc'd, freed on destruction) or wraps foreign memory
// that its owner keeps alive; growing a wrapping buffer switches it to owned storage.
// Not thread-safe: one SDK thread uses it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zelta {

class Zelta_Buffer {
 public:
  // Owned storage of `size` bytes; size 0 gives a buffer without storage (and a warning).
  // Throws std::runtime_error("Failed to allocate buffer") when malloc fails.
  explicit Zelta_Buffer(size_t size);
  // Wraps `data` (not owned, must outlive the buffer); size 0 or null data throw.
  Zelta_Buffer(uint8_t* data, size_t size);
  // Owned copy of the other buffer's whole storage and offsets.
  Zelta_Buffer(const Zelta_Buffer& other);
  Zelta_Buffer& operator=(const Zelta_Buffer&) = delete;
  virtual ~Zelta_Buffer();

  // Grows to `size` bytes (twice the capacity when 0); never shrinks. Returns the capacity,
  // the old one when the allocation failed.
  size_t grow(size_t size = 0);
  void commit(size_t n);
  void consume(size_t n);
  void peek(size_t n);
  void consumePeeked() { consume(m_peeked); }
  void resetPeek() { m_peeked = 0; }
  void compact();
  void clear();
  // Appends n bytes: 1, or -1 ("buffer write not possible") when they do not fit.
  int write(const uint8_t* data, size_t n);
  // Appends n bytes, compacting or growing first when needed.
  int writeGrowing(const uint8_t* data, size_t n);
  // Copies at most n unread bytes out and consumes them; returns the count.
  size_t read(uint8_t* out, size_t n);

  uint8_t* data() const { return m_storage; }
  size_t capacity() const { return m_capacity; }
  size_t readOffset() const { return m_readOffset; }
  size_t writeOffset() const { return m_writeOffset; }
  size_t peeked() const { return m_peeked; }
  uint8_t* readPointer() const { return m_storage + m_readOffset; }
  uint8_t* writePointer() const { return m_storage + m_writeOffset; }
  size_t unread() const { return m_writeOffset - m_readOffset; }
  size_t freeSpace() const { return m_capacity - m_writeOffset; }
  bool ownsStorage() const { return m_owns; }
  bool marker() const { return m_marker; }
  void setMarker(bool value) { m_marker = value; }

 private:
  uint8_t* m_storage = nullptr;
  size_t m_capacity = 0;
  size_t m_readOffset = 0;
  size_t m_writeOffset = 0;
  size_t m_peeked = 0;
  bool m_marker = false;
  bool m_owns = false;
};

}  // namespace Zelta
