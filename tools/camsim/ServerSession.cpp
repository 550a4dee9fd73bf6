#include "ServerSession.h"

#include "EventStream.h"
#include "PushStream.h"
#include "RecordingStream.h"
#include "SpeakerSession.h"
#include "Query.h"

#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>

namespace camsim {

namespace http = beast::http;

namespace {

constexpr std::chrono::seconds kIdleTimeout{120};
constexpr const char* kRecordingsPath = "/control/event.jpg";

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::string pathOf(const std::string& target) { return target.substr(0, target.find('?')); }

std::string queryOf(const std::string& target) {
  const auto question = target.find('?');
  return question == std::string::npos ? std::string() : target.substr(question + 1);
}

Reply faultStatusReply(int status) {
  Reply reply = Reply::text(status, "Error\r\n");
  if (status == 302 || status == 301 || status == 307) {
    reply.headers.emplace_back("Location", "/");
    reply.body = "Moved\r\n";
  } else if (status == 304 || status == 204 || status < 200) {
    reply.body.clear();
  }
  return reply;
}

}  // namespace

template <class Stream>
ServerSession<Stream>::ServerSession(Stream&& stream, const SimContext& ctx)
    : stream_(std::move(stream)), ctx_(ctx), buffer_(kHeaderLimit + kBodyLimit), delayTimer_(stream_.get_executor()) {}

template <class Stream>
void ServerSession<Stream>::start() {
  asyncOpen(stream_, [self = this->shared_from_this()](error_code ec) {
    if (ec) return;
    self->readRequest();
  });
}

template <class Stream>
void ServerSession<Stream>::readRequest() {
  parser_.emplace();
  parser_->header_limit(kHeaderLimit);
  parser_->body_limit(kBodyLimit);
  tcpLayer(stream_).expires_after(kIdleTimeout);
  http::async_read(stream_, buffer_, *parser_,
                   [self = this->shared_from_this()](error_code ec, std::size_t) { self->onRead(ec); });
}

template <class Stream>
void ServerSession<Stream>::onRead(error_code ec) {
  if (ec == http::error::header_limit || ec == http::error::body_limit || ec == http::error::buffer_overflow) {
    raw_ = "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    net::async_write(stream_, net::buffer(raw_),
                     [self = this->shared_from_this()](error_code, std::size_t) { closeNow(self->stream_); });
    return;
  }
  if (ec) return;  // client gone or idle too long: the session ends with its last handler
  tcpLayer(stream_).expires_never();
  request_ = parser_->release();
  const std::string target(request_.target());
  if (startsWith(target, "/sim/") || pathOf(target) == "/sim") {
    serveSim();
    return;
  }
  logId_ = ctx_.log.arrived(std::string(request_.method_string()), target);
  std::optional<Fault> fault = ctx_.faults.take(target);
  if (fault && fault->action == FaultAction::Delay) {
    delayTimer_.expires_after(std::chrono::milliseconds(fault->value));
    delayTimer_.async_wait([self = this->shared_from_this()](error_code waitError) {
      if (!waitError) self->serveCamera(std::nullopt);
    });
    return;
  }
  serveCamera(fault);
}

template <class Stream>
void ServerSession<Stream>::serveSim() {
  logId_ = 0;  // control requests stay out of the request log
  const Target target = parseTarget(std::string(request_.target()));
  if (target.path == "/sim/recordings") return answer(ctx_.recordings.simControl(target));
  answer(ctx_.control.handle(target));
}

template <class Stream>
void ServerSession<Stream>::serveCamera(std::optional<Fault> fault) {
  if (fault && !isStreamAction(fault->action) && applyFault(*fault)) return;
  const std::string target(request_.target());
  const auto verdict = ctx_.auth.check(std::string(request_.method_string()), target,
                                       std::string(request_[http::field::authorization]));
  if (logId_ != 0) ctx_.log.authorizedWith(logId_, verdict.scheme);
  if (!verdict.accepted) {
    Reply reply = Reply::text(401, "Unauthorized\r\n");
    for (auto& challenge : ctx_.auth.challenges()) reply.headers.emplace_back("WWW-Authenticate", std::move(challenge));
    answer(reply);
    return;
  }
  if (pathOf(target) == kFastStreamPath) {
    serveStream(fault);
    return;
  }
  if (pathOf(target) == kEventStreamPath) {
    serveEventStream(fault);
    return;
  }
  if (pathOf(target) == kRecordingsPath) {
    serveRecordings(parseTarget(target));
    return;
  }
  if (pathOf(target) == kSpeakerPath && request_.method() == http::verb::post) {
    serveSpeaker(fault);
    return;
  }
  answer(ctx_.api.handle(parseTarget(target), queryOf(target), request_.body()));
}

template <class Stream>
void ServerSession<Stream>::serveRecordings(const Target& target) {
  if (!Recordings::isStreamRequest(target)) return answer(ctx_.recordings.handle(target));
  auto plan = ctx_.recordings.stream(target);
  if (!plan) return answer(Reply::text(400, "searchbytime_start or sequence must be a number\r\n"));
  noteAnswer(200);
  std::make_shared<RecordingStream<Stream>>(std::move(stream_), std::move(*plan))->start();
}

// Returns true when the fault took over the answer.
template <class Stream>
bool ServerSession<Stream>::applyFault(const Fault& fault) {
  const std::string path = pathOf(std::string(request_.target()));
  const bool stream = path == kFastStreamPath;
  switch (fault.action) {
    case FaultAction::Status:
      answer(faultStatusReply(static_cast<int>(fault.value)));
      return true;
    case FaultAction::Empty:
      answer(Reply::text(200, ""));
      return true;
    case FaultAction::Close:
      noteAnswer(0);
      closeNow(stream_);
      return true;
    case FaultAction::Garbage:
      noteAnswer(0);
      writeRaw("GARBAGE\r\n\r\n", false);
      return true;
    case FaultAction::StallAfterHead:
      noteAnswer(200);
      writeRaw(stream ? streamHead()
               : path == kEventStreamPath
                   ? eventStreamHead()
                   : statusLineVersion() + " 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1000\r\n\r\nPARTIAL",
               true);
      return true;
    default:
      return false;
  }
}

template <class Stream>
void ServerSession<Stream>::serveStream(std::optional<Fault> fault) {
  const StreamRequestParse parsed = parseStreamRequest(parseTarget(std::string(request_.target())));
  if (!parsed.request) {
    answer(Reply::text(400, parsed.error + "\r\n"));
    return;
  }
  noteAnswer(200);
  auto push = std::make_shared<PushStream<Stream>>(std::move(stream_), ctx_, std::string(request_.target()), logId_,
                                                   *parsed.request, std::move(fault));
  push->start();
}

// The request has no length: everything the client sends after its head (commands) belongs to
// the stream, including what the head's read has buffered already.
template <class Stream>
void ServerSession<Stream>::serveEventStream(std::optional<Fault> fault) {
  const EventStreamRequestParse parsed = parseEventStreamRequest(parseTarget(std::string(request_.target())));
  if (!parsed.fps) {
    answer(Reply::text(400, parsed.error + "\r\n"));
    return;
  }
  noteAnswer(200);
  std::string bodyStart = beast::buffers_to_string(buffer_.data());
  buffer_.consume(buffer_.size());
  auto events = std::make_shared<EventStream<Stream>>(std::move(stream_), ctx_, *parsed.fps, std::move(bodyStart),
                                                      std::move(fault));
  events->start();
}

// A loudspeaker call: the body has no length and never ends; everything after the head is audio,
// including what the head's read has buffered already.
template <class Stream>
void ServerSession<Stream>::serveSpeaker(std::optional<Fault> fault) {
  noteAnswer(200);
  std::string bodyStart = request_.body() + beast::buffers_to_string(buffer_.data());
  buffer_.consume(buffer_.size());
  const bool reads = !(fault && fault->action == FaultAction::NoRead);
  std::make_shared<SpeakerSession<Stream>>(std::move(stream_), ctx_.state.speaker(), std::move(bodyStart), reads)
      ->start();
}

template <class Stream>
void ServerSession<Stream>::answer(const Reply& reply) {
  auto response =
      std::make_shared<http::response<http::string_body>>(static_cast<http::status>(reply.status), request_.version());
  response->set(http::field::server, "vantrel-camsim");
  if (!reply.body.empty() || reply.status == 200) response->set(http::field::content_type, reply.contentType);
  for (const auto& header : reply.headers) response->set(header.first, header.second);
  response->body() = reply.body;
  response->keep_alive(request_.keep_alive());
  response->prepare_payload();
  noteAnswer(reply.status);
  pendingResponse_ = response;
  const bool keepAlive = response->keep_alive();
  http::async_write(stream_, *response, [self = this->shared_from_this(), keepAlive](error_code ec, std::size_t) {
    self->afterAnswer(keepAlive, ec);
  });
}

template <class Stream>
void ServerSession<Stream>::afterAnswer(bool keepAlive, error_code ec) {
  pendingResponse_.reset();
  if (ec) return;
  if (keepAlive) {
    readRequest();
    return;
  }
  asyncFinish(stream_, [self = this->shared_from_this()](error_code) {});
}

template <class Stream>
void ServerSession<Stream>::writeRaw(std::string bytes, bool thenStall) {
  raw_ = std::move(bytes);
  net::async_write(stream_, net::buffer(raw_),
                   [self = this->shared_from_this(), thenStall](error_code ec, std::size_t) {
                     if (!ec && thenStall) {
                       self->drainUntilClosed();
                       return;
                     }
                     closeNow(self->stream_);
                   });
}

// Keeps a stalled connection open, reading and dropping whatever the client sends, until
// the client closes it or the server stops.
template <class Stream>
void ServerSession<Stream>::drainUntilClosed() {
  stream_.async_read_some(net::buffer(readScratch_), [self = this->shared_from_this()](error_code ec, std::size_t) {
    if (ec) {
      closeNow(self->stream_);
      return;
    }
    self->drainUntilClosed();
  });
}

template <class Stream>
void ServerSession<Stream>::noteAnswer(int status) {
  if (logId_ != 0) ctx_.log.answered(logId_, status);
  ctx_.verbose.request(std::string(request_.method_string()), std::string(request_.target()), status);
}

template <class Stream>
std::string ServerSession<Stream>::statusLineVersion() const {
  return request_.version() == 10 ? "HTTP/1.0" : "HTTP/1.1";
}

template class ServerSession<TcpStream>;
template class ServerSession<TlsStream>;

}  // namespace camsim
