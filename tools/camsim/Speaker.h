// The camera's loudspeaker: what the client of "/control/ddspeaker" sent. A call is one POST
// whose body never ends; the loudspeaker counts the calls and, for the latest call, its bytes,
// the SHA-256 of its first 64 KiB and its first and last bytes. GET /sim/speaker shows them.
// Thread safety: every method locks; sessions on any io thread feed it.
#pragma once

#include "Query.h"
#include "Reply.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace camsim {

class Speaker {
 public:
  // A new call starts: the latest call's figures start from zero.
  void callStarted();
  void received(const char* data, std::size_t size);
  // {"bytes":N,"calls":N,"sha256_first_64k":"hex","first":"hex","last":"hex"} of the latest call.
  std::string json() const;

  static constexpr std::size_t kHashedBytes = 64 * 1024;
  static constexpr std::size_t kEndBytes = 16;  // bytes shown from the start and from the end

 private:
  mutable std::mutex mutex_;
  std::uint64_t calls_ = 0;
  std::uint64_t bytes_ = 0;
  std::string head_;  // the first kHashedBytes of the call
  std::string tail_;  // the last kEndBytes
};

// GET /sim/speaker: the figures as JSON.
Reply speakerControl(const Speaker& speaker, const Target& target);

}  // namespace camsim
