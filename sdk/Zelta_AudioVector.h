// An audio packet in a byte vector that begins with the 28-byte prefix: what the conversion
// produces and the audio sink receives.
#pragma once

#include <memory>
#include <vector>

#include "Zelta_AudioInternal.h"

namespace Zelta {

class Zelta_AudioVector : public Zelta_AudioInternal {
 public:
  // Reads the prefix; throws the precondition error when the vector holds no samples after it.
  explicit Zelta_AudioVector(std::shared_ptr<std::vector<uint8_t>> vector);
  // The same for a vector the packet takes over and deletes (owns) or only reads, the caller
  // keeping it alive and unchanged as long as the packet (not owns). Throws for a null vector.
  Zelta_AudioVector(std::vector<uint8_t>* vector, bool owns);
  // A packet of the given samples.
  static std::shared_ptr<Zelta_AudioVector> make(const Zelta_AudioFormat& format, Zelta_AudioTime time, uint32_t type,
                                                 const uint8_t* samples, size_t count);

  const uint8_t* data() const override { return mVector->data() + AUD_BUF_PREFIX_SIZE; }
  size_t size() const override { return mVector->size() - AUD_BUF_PREFIX_SIZE; }
  const std::vector<uint8_t>& bytes() const { return *mVector; }
  // An owning copy (prefix and samples).
  std::shared_ptr<Zelta_AudioVector> clone() const;

 private:
  std::shared_ptr<std::vector<uint8_t>> mVector;
};

}  // namespace Zelta
