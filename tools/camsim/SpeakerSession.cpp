#include "SpeakerSession.h"

#include <boost/asio/write.hpp>

namespace camsim {

template <class Stream>
SpeakerSession<Stream>::SpeakerSession(Stream&& stream, Speaker& speaker, std::string bodyStart, bool reads)
    : stream_(std::move(stream)),
      speaker_(speaker),
      bodyStart_(std::move(bodyStart)),
      reads_(reads),
      timer_(stream_.get_executor()) {}

template <class Stream>
void SpeakerSession<Stream>::start() {
  tcpLayer(stream_).expires_never();
  speaker_.callStarted();
  if (!reads_) return holdWithoutReading();
  speaker_.received(bodyStart_.data(), bodyStart_.size());
  bodyStart_.clear();
  // Clients that wait for the camera's answer read this; the others leave it unread.
  head_ = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
  net::async_write(stream_, net::buffer(head_), [self = this->shared_from_this()](error_code ec, std::size_t) {
    if (ec) return closeNow(self->stream_);
    self->readAudio();
  });
}

template <class Stream>
void SpeakerSession<Stream>::readAudio() {
  stream_.async_read_some(net::buffer(buffer_), [self = this->shared_from_this()](error_code ec, std::size_t n) {
    self->speaker_.received(self->buffer_.data(), n);
    if (ec) return closeNow(self->stream_);  // the client hung up
    self->readAudio();
  });
}

template <class Stream>
void SpeakerSession<Stream>::holdWithoutReading() {
  timer_.expires_after(kNoReadHold);
  timer_.async_wait([self = this->shared_from_this()](error_code) { closeNow(self->stream_); });
}

template class SpeakerSession<TcpStream>;
template class SpeakerSession<TlsStream>;

}  // namespace camsim
