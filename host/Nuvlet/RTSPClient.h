// The RTSP client of the utility library: RTSP/1.0 over TCP with RTP interleaved on the same
// connection (OPTIONS, DESCRIBE, SETUP, PLAY, keep-alives, TEARDOWN), Basic and Digest
// authorisation, H.264 access units delivered into host buffers through the frame sink.
// docs/rtsp.md gives the exchange, the caps and the time-outs. Declarations only; implemented
// in libNuvlet.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/system/error_code.hpp>

#include "Connection.h"
#include "FrameSink.h"
#include "Logging.h"

namespace Talvo {
namespace Utility {

// The camera's RTSP port into `info.port`: 554, unless the connection text's path carries the
// query item "rtsp_port" ("http://user:pw@host:80/?rtsp_port=8554").
void setDefaultRtspPort(asio::ConnectionInfo& info);

struct RtspTimeouts {
  boost::posix_time::time_duration connect = asio::DEFAULT_CONNECT_TIMEOUT;
  boost::posix_time::time_duration answer = boost::posix_time::seconds(30);
  // A playing stream without RTP for this long has failed.
  boost::posix_time::time_duration silence = boost::posix_time::seconds(10);
};

class RTSPClient {
 public:
  using Completion = std::function<void(const boost::system::error_code& error)>;
  using SocketPtr = std::shared_ptr<boost::asio::ip::tcp::socket>;

  // `io` runs every step of the sessions; `logger` is copied. Frames go where `sink` says at
  // the time start() is called.
  RTSPClient(boost::asio::io_context& io, const LoggerOwner& logger, const VideoSinkParams& sink);
  ~RTSPClient();
  RTSPClient(const RTSPClient&) = delete;
  RTSPClient& operator=(const RTSPClient&) = delete;

  void setTimeouts(const RtspTimeouts& timeouts) { timeouts_ = timeouts; }

  // `io`'s thread. Plays rtsp://<info.hostAndPort()><path> with info's credentials; a running
  // session is ended first (its completion gets operation_aborted). `socket`, when given, is an
  // already connected socket to use. `completion` runs exactly once, on `io`, never inside
  // this call: with the error that ended the session, or with what teardown passes.
  void start(const asio::ConnectionInfo& info, const std::string& path, Completion completion,
             SocketPtr socket = nullptr);
  // `io`'s thread. Ends the running session (a TEARDOWN is sent when it plays); its completion
  // gets `error`. Nothing happens without a session.
  void teardown(const boost::system::error_code& error);

  // Totals of this client over all sessions, `io`'s thread.
  uint64_t framesDelivered() const;
  uint64_t unitsDropped() const;

  class Session;

 private:
  boost::asio::io_context& io_;
  LoggerOwner logger_;
  const VideoSinkParams& sink_;
  RtspTimeouts timeouts_;
  std::shared_ptr<Session> session_;
  uint64_t framesBefore_ = 0;
  uint64_t droppedBefore_ = 0;
};

}  // namespace Utility
}  // namespace Talvo
