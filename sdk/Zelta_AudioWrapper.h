// Audio samples in a byte array the packet either wraps or owns. A wrapping packet leaves the
// array to its caller, who keeps it alive and unchanged as long as the packet; an owning packet
// takes over an array allocated with new[] and deletes it. clone() gives an owning copy that
// outlives the original. Used on one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Zelta_AudioInternal.h"

namespace Zelta {

class Zelta_AudioWrapper : public Zelta_AudioInternal {
 public:
  // Throws the precondition error for null data.
  Zelta_AudioWrapper(uint8_t* data, size_t size, const Zelta_AudioFormat& format, Zelta_AudioTime time,
                     uint32_t type, bool owns);
  ~Zelta_AudioWrapper() override;
  Zelta_AudioWrapper(const Zelta_AudioWrapper&) = delete;
  Zelta_AudioWrapper& operator=(const Zelta_AudioWrapper&) = delete;

  const uint8_t* data() const override { return m_data; }
  size_t size() const override { return m_size; }
  bool ownsData() const { return m_owns; }
  // An owning copy of the samples with the same format, time and type; throws the precondition
  // error when the copy cannot be allocated.
  std::unique_ptr<Zelta_AudioWrapper> clone() const;

 private:
  uint8_t* m_data;
  size_t m_size;
  bool m_owns;
};

}  // namespace Zelta
