// One /control/faststream.jpg connection after its request was read: writes the multipart
// answer at the asked rate (or as fast as the client reads with --unthrottled) until the
// client goes away, a fault ends it or the server stops.
// Threading: all handlers run on the connection's strand (the stream's executor). The object
// keeps itself alive through shared_from_this while operations are pending.
#pragma once

#include "FaultTable.h"
#include "RequestLog.h"
#include "SimContext.h"
#include "StreamOps.h"
#include "PushStreamBytes.h"

#include <boost/asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace camsim {

template <class Stream>
class PushStream : public std::enable_shared_from_this<PushStream<Stream>> {
 public:
  // Takes over the connection; ctx must outlive the server.
  // `target` is the request's; `logId` its entry in the request log.
  PushStream(Stream&& stream, const SimContext& ctx, std::string target, std::uint64_t logId, StreamRequest request,
             std::optional<Fault> fault);

  void start();

  static constexpr std::chrono::milliseconds kTricklePause{100};

 private:
  void watchForClose();
  void sendNext();
  void onPartWritten(error_code ec);
  void waitForNextPicture();
  void sendFiller();
  void sendTrickle();
  void finish();
  // Before each part: a running=1 fault installed since takes over; clearing the faults gives
  // the stream its own fault back.
  void followFaultTable();

  Stream stream_;
  net::steady_timer timer_;
  const bool unthrottled_;
  const std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point nextPictureAt_;
  FaultTable& faults_;
  RequestLog& log_;
  const std::string target_;
  const std::uint64_t logId_;
  std::uint64_t seenFaultId_;           // the newest fault this stream has looked at
  std::uint64_t clears_ = 0;            // the table's clears when a running fault was taken
  bool runningFault_ = false;           // the stream's fault reached it while it ran
  const std::optional<Fault> ownFault_;  // the fault the stream's request took
  std::size_t trickleBytes_;            // 0: parts go out whole
  std::size_t written_ = 0;         // of out_, while it trickles
  StreamPartMaker maker_;
  std::string out_;                     // the bytes being written; one write at a time
  std::array<char, 4096> readScratch_;  // client bytes are read and dropped
  bool finished_ = false;
};

}  // namespace camsim
