// A camera GET whose answer body is a stream: the bytes go to a sink as they arrive instead of
// being collected. The request, connection and head steps are those of every camera request
// (AsyncHttp.h); only the body step differs. A chunked answer is decoded: the sink sees the chunk
// data only, and the last chunk ends the stream even when the camera keeps the connection open.
// The request ends with
//   - end of file (boost::asio::error::eof) when the camera closed the stream, when the
//     Content-Length it announced has been passed on, or at the last chunk;
//   - bad_response (256) for a chunked coding that breaks its rules;
//   - the sink's error when the sink refuses the bytes (the sink caps what it keeps);
//   - the answer's status as an http_category error when it is no success (no body is read);
//   - operation_aborted after cancel(), timed_out when the request's deadline passes or when
//     a step (connect, write, the answer's head) or the next piece of the body took longer than
//     the silence guard.
// The deadline covers the whole stream: callers pass one that fits the longest stream and a
// silence guard of a few seconds, so that a stalled camera does not hold them until the deadline.
//
// Threads: as every camera request, everything (the sink too) runs on the request's io_context.
// Instantiated in libNuvlet only (asyncGetStream in host/Nuvlet/HttpStream.h): Asio's record of which
// thread runs an io_context lives there, and the module keeps a hidden copy of its own.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include <boost/asio/deadline_timer.hpp>
#include <boost/system/error_code.hpp>

#include "Nuvlet/include/AsyncHttp.h"
#include "host/Nuvlet/HttpStream.h"

namespace Talvo {
namespace http {

struct StreamGetContext : detail::AsyncGetExContext {
  StreamGetContext(const asio::ConnectionInfo& info, const std::string& uri, StreamSink streamSink,
                   boost::posix_time::time_duration silenceGuard)
      : AsyncGetExContext(info, uri), sink(std::move(streamSink)), silence(silenceGuard) {}
  StreamSink sink;
  boost::posix_time::time_duration silence;  // not positive: no guard
};

// A stream's end of file is its normal end and reaches the caller as it is.
struct StreamRequestCodesMap {
  static bool isAnswerStatus(const boost::system::error_code&) { return false; }
  template <class Step>
  static boost::system::error_code translate(Step step, const boost::system::error_code& error) {
    if (step == AsyncRequestSteps::Step::ReadBody) return error;
    return AsyncRequestCodesMap::translate(step, error);
  }
};

class AsyncStreamSteps : public AsyncRequestSteps {
 public:
  template <class Op>
  void run(Step step, Op& op) {
    armSilenceGuard(op);  // each step, and each piece of the body, has the guard's time
    if (step != Step::ReadBody) return AsyncRequestSteps::run(step, op);
    size_t length = 0;
    const boost::system::error_code error =
        detail::bodyFraming(op.response(), std::numeric_limits<size_t>::max(), framing_, length);
    if (error) return op.completeStepLater(error);
    left_ = framing_ == BodyFraming::ContentLength ? length : std::numeric_limits<size_t>::max();
    if (framing_ == BodyFraming::None || left_ == 0) return op.completeStepLater(boost::asio::error::eof);
    // Whatever came with the head is the stream's first piece.
    boost::asio::streambuf& buffered = op.receiveBuffer();
    const auto* head = static_cast<const uint8_t*>(buffered.data().data());
    const size_t size = buffered.size();
    const boost::system::error_code refused = pass(op, head, size);
    buffered.consume(size);
    if (refused || left_ == 0) return op.completeStepLater(refused ? refused : boost::asio::error::eof);
    readMore(op);
  }

 private:
  // The most one chunk may announce: far beyond any picture, and no overflow while its size is read.
  static constexpr size_t kMaxChunk = std::numeric_limits<size_t>::max() / 16;

  // Hands the stream's bytes to the sink: as they are, or the chunk data of a chunked answer.
  // left_ becomes 0 at the end of the stream.
  template <class Op>
  boost::system::error_code pass(Op& op, const uint8_t* data, size_t size) {
    if (framing_ == BodyFraming::Chunked) return passChunked(op, data, size);
    const size_t take = std::min(size, left_);
    if (framing_ == BodyFraming::ContentLength) left_ -= take;
    return deliver(op, data, take);
  }

  template <class Op>
  boost::system::error_code passChunked(Op& op, const uint8_t* data, size_t size) {
    decoded_.clear();
    size_t used = 0;
    const BodyProgress progress = chunked_.feed(reinterpret_cast<const char*>(data), size, used, decoded_, kMaxChunk);
    if (progress == BodyProgress::Malformed) return error::make_error_code(error::bad_response);
    if (progress == BodyProgress::TooLarge) return error::make_error_code(error::response_too_large);
    const boost::system::error_code refused = deliver(op, decoded_.data(), decoded_.size());
    if (progress == BodyProgress::Done) left_ = 0;  // bytes after the last chunk belong to no picture
    return refused;
  }

  template <class Op>
  boost::system::error_code deliver(Op& op, const uint8_t* data, size_t size) {
    if (size == 0 || !op.request().sink) return {};
    return op.request().sink(data, size);
  }

  // (Re)starts the silence guard: when it fires, the request ends with timed_out.
  template <class Op>
  void armSilenceGuard(Op& op) {
    const boost::posix_time::time_duration silence = op.request().silence;
    if (silence <= boost::posix_time::time_duration()) return;
    if (!silenceTimer_) silenceTimer_ = std::make_unique<boost::asio::deadline_timer>(op.ioContext());
    const uint64_t generation = ++silenceGeneration_;
    silenceTimer_->expires_from_now(silence);
    std::weak_ptr<Op> weak = op.keepAlive();
    silenceTimer_->async_wait([weak, generation, this](const boost::system::error_code& error) {
      auto self = weak.lock();  // the steps live as long as their operation
      if (error || !self || generation != silenceGeneration_ || self->finished()) return;
      NLOG(self->log(), 3, " No byte of the stream for " << self->request().silence.total_milliseconds() << " ms");
      self->completeStep(boost::asio::error::timed_out);
    });
  }

  template <class Op>
  void readMore(Op& op) {
    auto& sockets = op.sockets();
    auto done = [self = op.keepAlive(), this](const boost::system::error_code& error, size_t n) {
      if (self->finished()) return;
      if (n != 0) {
        armSilenceGuard(*self);
        const boost::system::error_code refused = pass(*self, chunk_.data(), n);
        if (refused) return self->completeStep(refused);
        if (left_ == 0) return self->completeStep(boost::asio::error::eof);
      }
      if (error) return self->completeStep(detail::isEndOfStream(error) ? boost::asio::error::eof : error);
      readMore(*self);
    };
    if (sockets.socket.is_open())
      sockets.socket.async_read_some(boost::asio::buffer(chunk_), done);
    else if (sockets.tlsStream.lowest_layer().is_open())
      sockets.tlsStream.async_read_some(boost::asio::buffer(chunk_), done);
    else
      op.completeStepLater(error::make_error_code(error::no_socket));
  }

  BodyFraming framing_ = BodyFraming::None;
  size_t left_ = 0;
  detail::ChunkedBodyDecoder chunked_;
  Body decoded_;  // the chunk data of one read
  std::unique_ptr<boost::asio::deadline_timer> silenceTimer_;
  uint64_t silenceGeneration_ = 0;
  std::array<uint8_t, kReadChunk> chunk_{};
};

using StreamOperation = AsyncComplexOperation<AsyncStreamSteps, StreamGetContext, StreamRequestCodesMap>;

}  // namespace http
}  // namespace Talvo
