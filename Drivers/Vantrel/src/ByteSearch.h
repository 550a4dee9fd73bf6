// Finding short byte patterns in camera data at memory speed: the server-push boundary, the end
// of an event section and the start of an audio block are looked for in every picture.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vantrel {

// One pattern of a search for several at once.
struct Needle {
  static constexpr size_t kNotFound = static_cast<size_t>(-1);
  const uint8_t* bytes;
  size_t length;          // > 0
  size_t at = kNotFound;  // offset of the first occurrence in the data, once found
};

// Looks for each needle not found yet in data[from, size), all in one pass over the data, and
// stops as soon as needles[0] is found (what comes after it does not matter to the caller).
// Places holding a needle's first and last byte are compared in full; should the data hold such
// places so often that this turns slow (a camera sending runs of them), the rest is searched in
// linear time. At most 4 needles.
void findNeedles(const uint8_t* data, size_t from, size_t size, Needle* needles, size_t count);

}  // namespace Vantrel
