#include "RecordingStream.h"

#include <boost/asio/write.hpp>

#include <chrono>

namespace camsim {

template <class Stream>
RecordingStream<Stream>::RecordingStream(Stream&& stream, RecordingStreamPlan plan)
    : stream_(std::move(stream)), timer_(stream_.get_executor()), plan_(std::move(plan)) {}

template <class Stream>
void RecordingStream<Stream>::start() {
  tcpLayer(stream_).expires_never();
  write(plan_.head);
}

template <class Stream>
void RecordingStream<Stream>::write(std::string bytes) {
  out_ = std::move(bytes);
  net::async_write(stream_, net::buffer(out_), [self = this->shared_from_this()](error_code ec, std::size_t) {
    if (ec) return closeNow(self->stream_);  // the client went away
    self->next();
  });
}

template <class Stream>
void RecordingStream<Stream>::next() {
  if (sent_ == plan_.pieces.size()) {
    asyncFinish(stream_, [self = this->shared_from_this()](error_code) { closeNow(self->stream_); });
    return;
  }
  timer_.expires_after(std::chrono::milliseconds(plan_.paceMs));
  timer_.async_wait([self = this->shared_from_this()](error_code ec) {
    if (ec) return;
    self->write(std::move(self->plan_.pieces[self->sent_++]));
  });
}

template class RecordingStream<TcpStream>;
template class RecordingStream<TlsStream>;

}  // namespace camsim
