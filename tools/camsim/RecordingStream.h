// One played sequence of the edge storage ("/control/event.jpg?output=zlg") after its request
// was read: writes the answer head, then each piece of the plan after its pause, then ends the
// connection (the end of the sequence is the end of the stream).
// Threading: all handlers run on the connection's strand (the stream's executor). The object
// keeps itself alive through shared_from_this while operations are pending.
#pragma once

#include "Recordings.h"
#include "StreamOps.h"

#include <boost/asio/steady_timer.hpp>

#include <cstddef>
#include <memory>
#include <string>

namespace camsim {

template <class Stream>
class RecordingStream : public std::enable_shared_from_this<RecordingStream<Stream>> {
 public:
  RecordingStream(Stream&& stream, RecordingStreamPlan plan);

  void start();

 private:
  void write(std::string bytes);
  void next();

  Stream stream_;
  net::steady_timer timer_;
  RecordingStreamPlan plan_;
  std::size_t sent_ = 0;
  std::string out_;
};

}  // namespace camsim
