#include "EventStream.h"

#include <boost/asio/write.hpp>

namespace camsim {

template <class Stream>
EventStream<Stream>::EventStream(Stream&& stream, const SimContext& ctx, int fps, std::string bodyStart,
                                 std::optional<Fault> fault)
    : stream_(std::move(stream)),
      timer_(stream_.get_executor()),
      maker_(ctx.pictures, ctx.state, ctx.state.thermal(), std::move(fault), fps),
      bodyStart_(std::move(bodyStart)) {}

template <class Stream>
void EventStream<Stream>::start() {
  tcpLayer(stream_).expires_never();
  queue(eventStreamHead() + maker_.greeting());
  takeCommands(bodyStart_.data(), bodyStart_.size());
  bodyStart_.clear();
  readCommands();
  nextPictureAt_ = std::chrono::steady_clock::now();
  schedulePicture();
}

// The request body never ends: it carries the commands for as long as the stream lasts.
template <class Stream>
void EventStream<Stream>::readCommands() {
  stream_.async_read_some(net::buffer(readBuffer_), [self = this->shared_from_this()](error_code ec, std::size_t n) {
    if (ec || self->finished_) {
      self->finish();
      return;
    }
    self->takeCommands(self->readBuffer_.data(), n);
    self->readCommands();
  });
}

template <class Stream>
void EventStream<Stream>::takeCommands(const char* data, std::size_t size) {
  std::vector<std::string> commands;
  if (!commands_.feed(data, size, commands)) {
    finish();  // a command without end: not a client of ours
    return;
  }
  for (const std::string& command : commands) queue(maker_.answer(command));
}

template <class Stream>
void EventStream<Stream>::schedulePicture() {
  // A steady rate, without bursts to catch up after a slow moment.
  nextPictureAt_ = std::max(nextPictureAt_ + maker_.interval(), std::chrono::steady_clock::now());
  timer_.expires_at(nextPictureAt_);
  timer_.async_wait([self = this->shared_from_this()](error_code ec) {
    if (ec || self->finished_) return;
    self->sendPicture();
  });
}

template <class Stream>
void EventStream<Stream>::sendPicture() {
  if (queued_.size() >= kMaxQueuedBytes) {  // the client lags: this picture is skipped
    schedulePicture();
    return;
  }
  StreamStep step = maker_.next();
  switch (step.kind) {
    case StepKind::Drop:
      finish();
      return;
    case StepKind::Stall:
      stalled_ = true;  // nothing more is sent; the reads keep the connection until the client leaves
      return;
    default:
      break;
  }
  queue(step.bytes);
  schedulePicture();
}

template <class Stream>
void EventStream<Stream>::queue(const std::string& bytes) {
  if (stalled_ || finished_) return;
  if (queued_.size() + bytes.size() > kMaxUnreadBytes) {
    finish();
    return;
  }
  queued_ += bytes;
  writeQueued();
}

template <class Stream>
void EventStream<Stream>::writeQueued() {
  if (writing_ || queued_.empty() || finished_) return;
  out_.swap(queued_);
  queued_.clear();
  writing_ = true;
  net::async_write(stream_, net::buffer(out_), [self = this->shared_from_this()](error_code ec, std::size_t) {
    self->writing_ = false;
    if (ec) {
      self->finish();
      return;
    }
    self->writeQueued();
  });
}

template <class Stream>
void EventStream<Stream>::finish() {
  if (finished_) return;
  finished_ = true;
  timer_.cancel();
  closeNow(stream_);
}

template class EventStream<TcpStream>;
template class EventStream<TlsStream>;

}  // namespace camsim
