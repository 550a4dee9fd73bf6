#include "PushStream.h"

#include <boost/asio/write.hpp>

#include <algorithm>

namespace camsim {

namespace {

// Endless parts send filler at about 8 MB/s: 512 KiB every 64 ms (a part reaches a client's cap
// of some ten megabytes within seconds).
constexpr std::size_t kFillerChunk = 512 * 1024;
constexpr std::chrono::milliseconds kFillerPause{64};

std::size_t trickleOf(const std::optional<Fault>& fault) {
  return fault && fault->action == FaultAction::Trickle ? static_cast<std::size_t>(fault->value) : 0;
}

}  // namespace

template <class Stream>
PushStream<Stream>::PushStream(Stream&& stream, const SimContext& ctx, std::string target, std::uint64_t logId,
                               StreamRequest request, std::optional<Fault> fault)
    : stream_(std::move(stream)),
      timer_(stream_.get_executor()),
      unthrottled_(ctx.unthrottled),
      interval_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::seconds(1)) / request.fps),
      faults_(ctx.faults),
      log_(ctx.log),
      target_(std::move(target)),
      logId_(logId),
      seenFaultId_(ctx.faults.newestId()),  // what was installed before came with the request, or not at all
      ownFault_(fault),
      trickleBytes_(trickleOf(fault)),
      maker_(ctx.pictures, ctx.state, request, std::move(fault)) {}

template <class Stream>
void PushStream<Stream>::followFaultTable() {
  if (runningFault_ && faults_.clears() != clears_) {  // the stream's own fault again, counted from here
    runningFault_ = false;
    trickleBytes_ = trickleOf(ownFault_);
    maker_.attach(ownFault_);
  }
  std::uint64_t clears = 0;
  if (auto fault = faults_.takeForRunningStream(target_, seenFaultId_, clears)) {
    runningFault_ = true;
    clears_ = clears;
    trickleBytes_ = trickleOf(fault);
    maker_.attach(std::move(fault));
  }
}

template <class Stream>
void PushStream<Stream>::start() {
  tcpLayer(stream_).expires_never();
  watchForClose();
  out_ = streamHead();
  nextPictureAt_ = std::chrono::steady_clock::now();
  net::async_write(stream_, net::buffer(out_),
                   [self = this->shared_from_this()](error_code ec, std::size_t) { self->onPartWritten(ec); });
}

// The client never sends anything useful on a stream; a finished read means it went away.
template <class Stream>
void PushStream<Stream>::watchForClose() {
  stream_.async_read_some(net::buffer(readScratch_), [self = this->shared_from_this()](error_code ec, std::size_t) {
    if (ec) {
      self->finish();
      return;
    }
    self->watchForClose();
  });
}

template <class Stream>
void PushStream<Stream>::onPartWritten(error_code ec) {
  if (ec || finished_) {
    finish();
    return;
  }
  if (unthrottled_) {
    sendNext();
  } else {
    waitForNextPicture();
  }
}

template <class Stream>
void PushStream<Stream>::waitForNextPicture() {
  // Keep a steady rate, but do not burst to catch up after a slow client.
  const auto now = std::chrono::steady_clock::now();
  nextPictureAt_ = std::max(nextPictureAt_ + interval_, now);
  timer_.expires_at(nextPictureAt_);
  timer_.async_wait([self = this->shared_from_this()](error_code ec) {
    if (ec || self->finished_) return;
    self->sendNext();
  });
}

template <class Stream>
void PushStream<Stream>::sendNext() {
  followFaultTable();
  StreamStep step = maker_.next();
  if (step.kind == StepKind::Part && step.goodPicture) log_.pictureSent(logId_);
  switch (step.kind) {
    case StepKind::Drop:
      finish();
      return;
    case StepKind::Stall:
      return;  // watchForClose() keeps the connection until the client leaves
    case StepKind::PartThenDrop:
      out_ = std::move(step.bytes);
      net::async_write(stream_, net::buffer(out_),
                       [self = this->shared_from_this()](error_code, std::size_t) { self->finish(); });
      return;
    case StepKind::EndlessStart:
    case StepKind::Part:
      break;
  }
  out_ = std::move(step.bytes);
  if (trickleBytes_ > 0 && step.kind == StepKind::Part) {
    written_ = 0;
    sendTrickle();
    return;
  }
  const bool endless = step.kind == StepKind::EndlessStart;
  net::async_write(stream_, net::buffer(out_), [self = this->shared_from_this(), endless](error_code ec, std::size_t) {
    if (endless && !ec) {
      self->sendFiller();
      return;
    }
    self->onPartWritten(ec);
  });
}

// A slow link: the part goes out trickleBytes_ at a time, kTricklePause apart.
template <class Stream>
void PushStream<Stream>::sendTrickle() {
  const std::size_t size = std::min(trickleBytes_, out_.size() - written_);
  net::async_write(stream_, net::buffer(out_.data() + written_, size),
                   [self = this->shared_from_this()](error_code ec, std::size_t n) {
                     self->written_ += n;
                     if (ec || self->finished_ || self->written_ == self->out_.size()) return self->onPartWritten(ec);
                     self->timer_.expires_after(kTricklePause);
                     self->timer_.async_wait([self](error_code waitError) {
                       if (!waitError && !self->finished_) self->sendTrickle();
                     });
                   });
}

template <class Stream>
void PushStream<Stream>::sendFiller() {
  if (finished_) return;
  out_ = StreamPartMaker::endlessFiller(kFillerChunk);
  net::async_write(stream_, net::buffer(out_), [self = this->shared_from_this()](error_code ec, std::size_t) {
    if (ec || self->finished_) {
      self->finish();
      return;
    }
    self->timer_.expires_after(kFillerPause);
    self->timer_.async_wait([self](error_code waitError) {
      if (!waitError) self->sendFiller();
    });
  });
}

template <class Stream>
void PushStream<Stream>::finish() {
  if (finished_) return;
  finished_ = true;
  timer_.cancel();
  closeNow(stream_);
}

template class PushStream<TcpStream>;
template class PushStream<TlsStream>;

}  // namespace camsim
