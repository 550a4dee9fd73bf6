// One "/control/ddspeaker" call after its request head was read: the camera answers the call
// with a short head, then reads the never-ending body into the loudspeaker until the client
// hangs up or the server stops. With the fault "no_read" it takes the call but reads nothing,
// as a camera whose loudspeaker hangs, and lets the connection go after kNoReadHold.
// Threading: all handlers run on the connection's executor. The object keeps itself alive
// through shared_from_this while operations are pending.
#pragma once

#include "Speaker.h"
#include "StreamOps.h"

#include <boost/asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <memory>
#include <string>

namespace camsim {

template <class Stream>
class SpeakerSession : public std::enable_shared_from_this<SpeakerSession<Stream>> {
 public:
  // Takes over the connection; `bodyStart` is what the client sent after its request head.
  SpeakerSession(Stream&& stream, Speaker& speaker, std::string bodyStart, bool reads);

  void start();

  static constexpr std::chrono::seconds kNoReadHold{60};

 private:
  void readAudio();
  void holdWithoutReading();

  Stream stream_;
  Speaker& speaker_;
  std::string bodyStart_;
  const bool reads_;
  std::string head_;
  net::steady_timer timer_;
  std::array<char, 16 * 1024> buffer_;
};

}  // namespace camsim
