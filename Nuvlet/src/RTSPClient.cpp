// The RTSP client: one Session object per start(), owned by its pending handlers and by the
// client, running entirely on the io_context it was given.
#include "host/Nuvlet/RTSPClient.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <vector>

#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "Nuvlet/include/RtpH264.h"
#include "Nuvlet/include/RtspAnswer.h"
#include "Nuvlet/include/HttpDigest.h"
#include "Nuvlet/include/SdpDescription.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/HttpCategory.h"
#include "host/Nuvlet/PercentEncoding.h"
#include "host/Nuvlet/Time.h"

namespace Talvo {
namespace Utility {

namespace {

using boost::system::error_code;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kStandardRtspPort = 554;
// Room for the largest answer, or for one interleaved frame (4 + 65535 bytes), with spare.
constexpr size_t kReceiveBufferSize = rtsp::kMaxAnswerHead + rtsp::kMaxAnswerBody + 128 * 1024;
constexpr uint32_t kRtpClockPerMs = 90;  // H.264 over RTP runs at 90 kHz

std::chrono::milliseconds toChrono(const boost::posix_time::time_duration& duration) {
  return std::chrono::milliseconds(std::max<int64_t>(1, duration.total_milliseconds()));
}

bool parsePort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), ::isdigit)) return false;
  const int value = std::stoi(text);
  if (value < 1 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// "RTP/AVP/TCP;unicast;interleaved=2-3": the RTP channel (2); 0 when none is named.
int interleavedChannel(const std::string& transport) {
  const size_t key = transport.find("interleaved=");
  if (key == std::string::npos) return 0;
  size_t at = key + 12;
  int value = 0;
  while (at < transport.size() && ::isdigit(static_cast<unsigned char>(transport[at])) && value < 256)
    value = value * 10 + (transport[at++] - '0');
  return value;
}

}  // namespace

void setDefaultRtspPort(asio::ConnectionInfo& info) {
  uint16_t port = kStandardRtspPort;
  parsePort(percentDecode(asio::connectionQueryItem(info.path, "rtsp_port")).value_or(""), port);
  info.port = port;
}

class RTSPClient::Session : public std::enable_shared_from_this<RTSPClient::Session> {
 public:
  Session(boost::asio::io_context& io, const LoggerOwner& logger, const VideoSinkParams& sink,
          const RtspTimeouts& timeouts, const asio::ConnectionInfo& info, const std::string& path,
          Completion completion, SocketPtr socket)
      : io_(io),
        logger_(logger),
        sink_(sink),
        timeouts_(timeouts),
        info_(info),
        url_("rtsp://" + info.hostAndPort() + path),
        completion_(std::move(completion)),
        socket_(socket ? std::move(socket) : std::make_shared<boost::asio::ip::tcp::socket>(io)),
        connected_(socket_->is_open()),
        answerTimer_(io),
        silenceTimer_(io),
        keepAliveTimer_(io),
        auth_(info.user, info.password),
        assembler_([this](const rtsp::AccessUnit& unit) { deliver(unit); },
                   [this] {
                     if (sink_.statistic && sink_.statisticEnabled) sink_.statistic->streamOutOfSync();
                   }),
        in_(kReceiveBufferSize) {}

  void begin() {
    if (finished_) return;  // torn down before its first step
    NLOG(logger_, 0, " RTSP session to " << url_);
    if (connected_) return sendOptions();
    boost::asio::ip::tcp::endpoint endpoint;
    if (!asio::literalEndpoint(info_, endpoint)) {
      // Names are looked up once per session; a camera is normally addressed by number.
      boost::system::error_code error;
      boost::asio::ip::tcp::resolver resolver(io_);
      const auto results = resolver.resolve(info_.host, std::to_string(info_.port), error);
      if (error || results.empty()) return finish(error ? error : boost::asio::error::host_not_found);
      endpoint = results.begin()->endpoint();
    }
    armAnswerTimer(timeouts_.connect);
    auto self = shared_from_this();
    socket_->async_connect(endpoint, [this, self](const error_code& error) {
      if (finished_) return;
      answerTimer_.cancel();
      if (error) return finish(error);
      connected_ = true;
      boost::system::error_code ignored;
      socket_->set_option(boost::asio::ip::tcp::no_delay(true), ignored);
      readMore();
      sendOptions();
    });
  }

  // Ends the session: a TEARDOWN when it plays, then the connection closes.
  void stop(const error_code& error) {
    if (finished_) return;
    if (playing_ && connected_) {
      // One try without waiting: the kernel takes these few bytes, or the server never hears it.
      boost::system::error_code ignored;
      socket_->non_blocking(true, ignored);
      const std::string text = requestText("TEARDOWN", playUrl_, "");
      socket_->write_some(boost::asio::buffer(text), ignored);
    }
    finish(error);
  }

  uint64_t delivered() const { return assembler_.deliveredUnits(); }
  uint64_t dropped() const { return assembler_.droppedUnits(); }

 private:
  using AnswerStep = void (Session::*)(const rtsp::RtspAnswer&);
  struct Request {
    std::string method;
    std::string uri;
    std::string headers;  // extra header lines, each ending in "\r\n"
    AnswerStep next = nullptr;
    int cseq = 0;
    bool authRetried = false;
  };

  void finish(const error_code& error) {
    if (finished_) return;
    finished_ = true;
    playing_ = false;
    boost::system::error_code ignored;
    answerTimer_.cancel(ignored);
    silenceTimer_.cancel(ignored);
    keepAliveTimer_.cancel(ignored);
    socket_->close(ignored);
    if (error && error != boost::asio::error::operation_aborted)
      NLOG(logger_, 3,
           " RTSP session ended: " << error.category().name() << ":" << error.value() << " " << error.message());
    else
      NLOG(logger_, 0, " RTSP session ended");
    boost::asio::post(io_, [completion = std::move(completion_), error] {
      if (completion) completion(error);
    });
  }

  void fail(const error_code& error, const std::string& why) {
    if (finished_) return;
    NLOG(logger_, 3, " " << why);
    finish(error);
  }

  // ---- requests ----

  std::string requestText(const std::string& method, const std::string& uri, const std::string& headers) {
    std::string text =
        method + " " + uri + " RTSP/1.0\r\nCSeq: " + std::to_string(++cseq_) + "\r\nUser-Agent: Nuvlet RTSP\r\n";
    const std::string authorization = auth_.header(method, uri);
    if (!authorization.empty()) text += "Authorization: " + authorization + "\r\n";
    if (!sessionId_.empty()) text += "Session: " + sessionId_ + "\r\n";
    return text + headers + "\r\n";
  }

  void send(Request request) {
    const std::string text = requestText(request.method, request.uri, request.headers);
    request.cseq = cseq_;
    pending_ = std::move(request);
    hasPending_ = true;
    armAnswerTimer(timeouts_.answer);
    NLOG(logger_, 0, " > " << pending_.method << " " << pending_.uri);
    write(text);
  }

  void write(std::string text) {
    writes_.push_back(std::move(text));
    if (writes_.size() == 1) writeNext();
  }

  void writeNext() {
    auto self = shared_from_this();
    boost::asio::async_write(*socket_, boost::asio::buffer(writes_.front()),
                             [this, self](const error_code& error, size_t) {
                               if (finished_) return;
                               if (error) return finish(error);
                               writes_.pop_front();
                               if (!writes_.empty()) writeNext();
                             });
  }

  void armAnswerTimer(const boost::posix_time::time_duration& timeout) {
    answerTimer_.expires_from_now(timeout);
    auto self = shared_from_this();
    answerTimer_.async_wait([this, self](const error_code& error) {
      if (error || finished_) return;
      fail(boost::asio::error::timed_out, "RTSP server did not answer in time");
    });
  }

  void sendOptions() { send({"OPTIONS", url_, "", &Session::onOptions}); }

  void onOptions(const rtsp::RtspAnswer& answer) {
    getParameter_ = answer.header("Public").find("GET_PARAMETER") != std::string::npos;
    send({"DESCRIBE", url_, "Accept: application/sdp\r\n", &Session::onDescribe});
  }

  void onDescribe(const rtsp::RtspAnswer& answer) {
    rtsp::SdpDescription sdp;
    if (!rtsp::parseSdp(answer.body, sdp))
      return fail(error::make_error_code(error::bad_response), "No H.264 video in the session description");
    std::string base = answer.header("Content-Base");
    if (base.empty()) base = answer.header("Content-Location");
    if (base.empty()) base = url_;
    payloadType_ = sdp.video.payloadType;
    assembler_.setParameterSets(sdp.video.parameterSets);
    playUrl_ = rtsp::resolveControl(base, sdp.control);
    send({"SETUP", rtsp::resolveControl(base, sdp.video.control), "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n",
          &Session::onSetup});
  }

  void onSetup(const rtsp::RtspAnswer& answer) {
    rtsp::SessionHeader session;
    if (!rtsp::parseSessionHeader(answer.header("Session"), session))
      return fail(error::make_error_code(error::bad_response), "SETUP answer without a session");
    sessionId_ = session.id;
    keepAliveInterval_ = boost::posix_time::milliseconds(session.timeoutSeconds * 500);
    rtpChannel_ = interleavedChannel(answer.header("Transport"));
    send({"PLAY", playUrl_, "Range: npt=0.000-\r\n", &Session::onPlay});
  }

  void onPlay(const rtsp::RtspAnswer&) {
    NLOG(logger_, 0, " RTSP stream playing, keep-alive every " << keepAliveInterval_.total_milliseconds() << " ms");
    playing_ = true;
    lastFrame_ = Clock::now();
    armSilenceTimer();
    armKeepAlive();
  }

  void onKeepAlive(const rtsp::RtspAnswer&) {}

  void armKeepAlive() {
    keepAliveTimer_.expires_from_now(keepAliveInterval_);
    auto self = shared_from_this();
    keepAliveTimer_.async_wait([this, self](const error_code& error) {
      if (error || finished_) return;
      if (!hasPending_) send({getParameter_ ? "GET_PARAMETER" : "OPTIONS", playUrl_, "", &Session::onKeepAlive});
      armKeepAlive();
    });
  }

  // The silence guard looks at the time of the last delivered access unit a few times per
  // period, so that a frame costs no timer operation. Packets that deliver nothing (late ones,
  // units dropped until a key frame) do not count: such a stream shows the host nothing.
  void armSilenceTimer() {
    silenceTimer_.expires_from_now(timeouts_.silence / 4);
    auto self = shared_from_this();
    silenceTimer_.async_wait([this, self](const error_code& error) {
      if (error || finished_) return;
      if (Clock::now() - lastFrame_ >= toChrono(timeouts_.silence))
        return fail(boost::asio::error::timed_out,
                    "No frame for " + std::to_string(timeouts_.silence.total_milliseconds()) + " ms");
      armSilenceTimer();
    });
  }

  // ---- receiving ----

  void readMore() {
    if (begin_ > 0) {  // keep the unread rest at the front
      std::memmove(in_.data(), in_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    auto self = shared_from_this();
    socket_->async_read_some(boost::asio::buffer(in_.data() + end_, in_.size() - end_),
                             [this, self](const error_code& error, size_t size) {
                               if (finished_) return;
                               if (error) return finish(error);
                               end_ += size;
                               if (consume()) readMore();
                             });
  }

  // Takes every whole message received; false when the session ended.
  bool consume() {
    while (begin_ < end_ && !finished_) {
      const uint8_t* data = in_.data() + begin_;
      const size_t available = end_ - begin_;
      if (data[0] == '$') {
        if (available < 4) break;
        const size_t length = (data[2] << 8) | data[3];
        if (available < 4 + length) break;
        onInterleaved(data[1], data + 4, length);
        begin_ += 4 + length;
        continue;
      }
      rtsp::RtspAnswer answer;
      size_t used = 0;
      const char* text = reinterpret_cast<const char*>(data);
      const rtsp::AnswerParse parsed = rtsp::parseAnswer(text, text + available, answer, used);
      if (parsed == rtsp::AnswerParse::NeedMore) break;
      if (parsed == rtsp::AnswerParse::Bad) {
        fail(error::make_error_code(error::bad_response), "Unreadable RTSP answer");
        return false;
      }
      if (parsed == rtsp::AnswerParse::TooLarge) {
        fail(error::make_error_code(error::response_too_large), "RTSP answer larger than the limit");
        return false;
      }
      begin_ += used;
      onAnswer(answer);
    }
    return !finished_;
  }

  void onAnswer(const rtsp::RtspAnswer& answer) {
    if (!hasPending_ || answer.header("CSeq") != std::to_string(pending_.cseq)) {
      NLOG(logger_, 2, " RTSP answer without a request, CSeq " << answer.header("CSeq"));
      return;
    }
    answerTimer_.cancel();
    hasPending_ = false;
    NLOG(logger_, 0, " < " << answer.status << " " << answer.reason);
    if (answer.status == 401 && !pending_.authRetried && auth_.hasCredentials() &&
        auth_.accept(http::challengesOf(answer.headers))) {
      Request again = pending_;
      again.authRetried = true;
      return send(std::move(again));
    }
    if (answer.status >= 300 && answer.status <= 399)
      return fail(error_code(answer.status, http::http_category()),
                  "RTSP redirect to " + answer.header("Location") + " refused");
    if (answer.status < 200 || answer.status > 299)
      return fail(error_code(answer.status, http::http_category()),
                  pending_.method + " answered " + std::to_string(answer.status) + " " + answer.reason);
    (this->*pending_.next)(answer);
  }

  void onInterleaved(uint8_t channel, const uint8_t* data, size_t size) {
    if (channel != rtpChannel_ || payloadType_ < 0) return;  // RTCP and unknown channels
    rtsp::RtpPacket packet;
    if (!rtsp::parseRtpPacket(data, size, packet) || packet.payloadType != payloadType_) return;
    if (!assembler_.push(packet))
      fail(error::make_error_code(error::response_too_large), "H.264 unit larger than the limit");
  }

  // Times in ms: the wall clock of the first frame plus the RTP time since it.
  uint64_t frameTime(uint32_t rtpTimestamp) {
    if (!haveTime_) {
      haveTime_ = true;
      firstWallMs_ = timeStamp();
      lastRtpTimestamp_ = rtpTimestamp;
    }
    rtpElapsed_ += static_cast<int32_t>(rtpTimestamp - lastRtpTimestamp_);
    lastRtpTimestamp_ = rtpTimestamp;
    return firstWallMs_ + static_cast<uint64_t>(std::max<int64_t>(0, rtpElapsed_) / kRtpClockPerMs);
  }

  void deliver(const rtsp::AccessUnit& unit) {
    lastFrame_ = Clock::now();
    if (!firstFrame_) {
      firstFrame_ = true;
      NLOG(logger_, 0, " First frame of the session (" << (unit.key ? "key" : "delta") << ")");
      if (sink_.reportNextFailure) *sink_.reportNextFailure = true;
    }
    deliverVideoFrame(sink_, "H264", unit.data, unit.size, unit.key, frameTime(unit.rtpTimestamp));
  }

  boost::asio::io_context& io_;
  LoggerOwner logger_;
  const VideoSinkParams sink_;
  const RtspTimeouts timeouts_;
  const asio::ConnectionInfo info_;
  const std::string url_;
  Completion completion_;
  SocketPtr socket_;
  bool connected_;
  boost::asio::deadline_timer answerTimer_;  // connect, then each answer
  boost::asio::deadline_timer silenceTimer_;
  boost::asio::deadline_timer keepAliveTimer_;
  http::DigestAuthorization auth_;
  rtsp::H264Assembler assembler_;
  std::vector<uint8_t> in_;
  size_t begin_ = 0;
  size_t end_ = 0;
  std::deque<std::string> writes_;
  Request pending_;
  bool hasPending_ = false;
  int cseq_ = 0;
  std::string sessionId_;
  std::string playUrl_;
  bool getParameter_ = false;
  int payloadType_ = -1;
  int rtpChannel_ = 0;
  boost::posix_time::time_duration keepAliveInterval_ = boost::posix_time::seconds(30);
  bool playing_ = false;
  bool finished_ = false;
  bool firstFrame_ = false;
  Clock::time_point lastFrame_;  // of the last delivered access unit
  bool haveTime_ = false;
  uint64_t firstWallMs_ = 0;
  uint32_t lastRtpTimestamp_ = 0;
  int64_t rtpElapsed_ = 0;
};

RTSPClient::RTSPClient(boost::asio::io_context& io, const LoggerOwner& logger, const VideoSinkParams& sink)
    : io_(io), logger_(logger), sink_(sink) {}

RTSPClient::~RTSPClient() = default;

void RTSPClient::start(const asio::ConnectionInfo& info, const std::string& path, Completion completion,
                       SocketPtr socket) {
  teardown(boost::asio::error::operation_aborted);
  session_ =
      std::make_shared<Session>(io_, logger_, sink_, timeouts_, info, path, std::move(completion), std::move(socket));
  auto session = session_;
  // Never inside this call: the first step runs from the io_context.
  boost::asio::post(io_, [session] { session->begin(); });
}

void RTSPClient::teardown(const boost::system::error_code& error) {
  if (!session_) return;
  framesBefore_ += session_->delivered();
  droppedBefore_ += session_->dropped();
  session_->stop(error);
  session_.reset();
}

uint64_t RTSPClient::framesDelivered() const { return framesBefore_ + (session_ ? session_->delivered() : 0); }
uint64_t RTSPClient::unitsDropped() const { return droppedBefore_ + (session_ ? session_->dropped() : 0); }

}  // namespace Utility
}  // namespace Talvo
