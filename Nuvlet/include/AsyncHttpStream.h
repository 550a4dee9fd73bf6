// A camera GET whose answer body is a stream: the bytes go to a sink as they arrive instead of
// being collected. The request, connection and head steps are those of every camera request
// (AsyncHttp.h); only the body step differs. The request ends with
//   - end of file (boost::asio::error::eof) when the camera closed the stream, or when the
//     Content-Length it announced has been passed on;
//   - the sink's error when the sink refuses the bytes (the sink caps what it keeps);
//   - the answer's status as an http_category error when it is no success (no body is read);
//   - operation_aborted after cancel(), timed_out when the request's deadline passes.
// The deadline covers the whole stream: callers pass one that fits the longest stream.
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

#include <boost/system/error_code.hpp>

#include "Nuvlet/include/AsyncHttp.h"
#include "host/Nuvlet/HttpStream.h"

namespace Talvo {
namespace http {

struct StreamGetContext : detail::AsyncGetExContext {
  StreamGetContext(const asio::ConnectionInfo& info, const std::string& uri, StreamSink streamSink)
      : AsyncGetExContext(info, uri), sink(std::move(streamSink)) {}
  StreamSink sink;
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
  template <class Op>
  boost::system::error_code pass(Op& op, const uint8_t* data, size_t size) {
    const size_t take = std::min(size, left_);
    if (framing_ == BodyFraming::ContentLength) left_ -= take;
    if (take == 0) return {};
    return op.request().sink ? op.request().sink(data, take) : boost::system::error_code();
  }

  template <class Op>
  void readMore(Op& op) {
    auto& sockets = op.sockets();
    auto done = [self = op.keepAlive(), this](const boost::system::error_code& error, size_t n) {
      if (self->finished()) return;
      if (n != 0) {
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
  std::array<uint8_t, kReadChunk> chunk_{};
};

using StreamOperation = AsyncComplexOperation<AsyncStreamSteps, StreamGetContext, StreamRequestCodesMap>;

}  // namespace http
}  // namespace Talvo
