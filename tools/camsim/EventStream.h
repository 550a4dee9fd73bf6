// One /control/eventstream.jpg connection after its request head was read: answers the client's
// commands (read from the rest of the connection) and sends pictures at the stream's rate until
// the client goes away, a fault ends it or the server stops. Pictures are skipped, not queued,
// while the client reads slower than the camera sends.
// Threading: all handlers run on the connection's strand (the stream's executor). The object
// keeps itself alive through shared_from_this while operations are pending.
#pragma once

#include "EventStreamBytes.h"
#include "FaultTable.h"
#include "SimContext.h"
#include "StreamOps.h"

#include <boost/asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace camsim {

template <class Stream>
class EventStream : public std::enable_shared_from_this<EventStream<Stream>> {
 public:
  // Takes over the connection; `bodyStart` is what the client sent after its request head.
  EventStream(Stream&& stream, const SimContext& ctx, int fps, std::string bodyStart, std::optional<Fault> fault);

  void start();

  // Bytes waiting to be written above which pictures are skipped.
  static constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;
  // Bytes waiting to be written at which the client counts as gone (it sends commands but does
  // not read the answers).
  static constexpr std::size_t kMaxUnreadBytes = 2 * kMaxQueuedBytes;

 private:
  void readCommands();
  void takeCommands(const char* data, std::size_t size);
  void schedulePicture();
  void sendPicture();
  void queue(const std::string& bytes);
  void writeQueued();
  void finish();

  Stream stream_;
  net::steady_timer timer_;
  EventStreamMaker maker_;
  CommandReader commands_;
  std::string bodyStart_;
  std::chrono::steady_clock::time_point nextPictureAt_;
  std::string queued_;  // bytes waiting for the write in progress to end
  std::string out_;     // the bytes being written
  bool writing_ = false;
  bool stalled_ = false;
  bool finished_ = false;
  std::array<char, 4096> readBuffer_;
};

}  // namespace camsim
