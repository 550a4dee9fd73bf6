// Storage that serves frame after frame: a picture and its thermal raw data take their buffers
// from the pool of the decoder that built them and give them back when they end, on whatever
// thread the last holder lets them go. Buffers of this size would otherwise come fresh from the
// kernel for every frame (glibc maps and unmaps blocks this large), each page faulted in and
// cleared again. A buffer taken is owned by its taker alone until given back; at most `kept`
// buffers of at most kMaxKeptBytes each wait in a pool, others are freed, so the memory held
// stays bounded. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace Zelta {

// Leaves the elements a resize adds unset: every user writes them all next.
template <class T>
struct Zelta_UnsetAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = Zelta_UnsetAllocator<U>;
  };
  Zelta_UnsetAllocator() = default;
  template <class U>
  Zelta_UnsetAllocator(const Zelta_UnsetAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

template <class T>
using Zelta_RawBuffer = std::vector<T, Zelta_UnsetAllocator<T>>;

// Appends count elements in one copy (insert would construct them one by one through the
// allocator).
template <class T>
void appendTo(Zelta_RawBuffer<T>& buffer, const T* data, size_t count) {
  if (count == 0) return;
  const size_t at = buffer.size();
  buffer.resize(at + count);
  std::memcpy(buffer.data() + at, data, count * sizeof(T));
}

template <class T>
class Zelta_BufferPool {
 public:
  // A thermal sensor's planes are at most 2 MiB (1023 × 1023 × 2); larger pictures are rare and
  // are not kept.
  static constexpr size_t kMaxKeptBytes = 4u << 20;

  explicit Zelta_BufferPool(size_t kept) : m_kept(kept) { m_idle.reserve(kept); }

  // An empty buffer, with the capacity it had when given back (none when no buffer waits).
  Zelta_RawBuffer<T> take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_idle.empty()) return {};
    Zelta_RawBuffer<T> buffer = std::move(m_idle.back());
    m_idle.pop_back();
    return buffer;
  }

  // The buffer waits for the next taker, or is freed when enough wait already.
  void give(Zelta_RawBuffer<T>&& buffer) {
    if (buffer.capacity() == 0 || buffer.capacity() * sizeof(T) > kMaxKeptBytes) return;
    buffer.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_idle.size() < m_kept) m_idle.push_back(std::move(buffer));
  }

  size_t waiting() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_idle.size();
  }

 private:
  const size_t m_kept;
  mutable std::mutex m_mutex;
  std::vector<Zelta_RawBuffer<T>> m_idle;
};

// The buffers of one decoder: picture copies and collected or decompressed thermal bytes, and
// the 16-bit pixels built for readers. Shared by the decoder and every object it built, so that
// objects outliving the decoder still have somewhere to give their buffers back.
struct Zelta_FrameBuffers {
  // Per frame a picture and each sensor's bytes (two buffers while it decompresses); a frame in
  // the client's hands while the next is decoded.
  static constexpr size_t kKeptBytes = 6;
  static constexpr size_t kKeptPixels = 4;
  Zelta_BufferPool<uint8_t> bytes{kKeptBytes};
  Zelta_BufferPool<uint16_t> pixels{kKeptPixels};
};

}  // namespace Zelta
