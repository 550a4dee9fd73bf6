// The steps of a camera request over HTTP or HTTPS, for AsyncComplexOperation: resolve, connect,
// TLS handshake, write the request, read the answer's head, read its body.
//
// Every byte the camera sends lands in capped buffers: the head in the operation's receive
// buffer (kMaxHeadSize), the body in its Body (kMaxBodySize). A Content-Length above the cap
// ends the request with 264 before anything of the body is read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include <boost/asio/connect.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/error_code.hpp>

#include "Nuvlet/include/AsyncComplexOperation.h"
#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/Conversions.h"
#include "host/Nuvlet/Http.h"

namespace Talvo {
namespace http {
namespace detail {

// What one request sends. check() says whether it can be written at all.
struct AsyncRequestContext {
  AsyncRequestContext(asio::ConnectionInfo connection, HttpRequest toSend)
      : info(std::move(connection)), request(std::move(toSend)) {}

  asio::ConnectionInfo info;
  HttpRequest request;

  // bad_request (265) without a host, or when the target or a header would break the request
  // apart (CR, LF, NUL, blanks in the target).
  boost::system::error_code check() const;
  // The bytes written to the camera.
  std::string text() const;
  // "GET http://host:port/path" for log lines: no credentials, no query (it may carry them).
  std::string describe() const;
};

struct AsyncGetExContext : AsyncRequestContext {
  AsyncGetExContext(const asio::ConnectionInfo& info, const std::string& uri);
};

// `headers` give Content-Type and any further header; Content-Length comes from `body`.
struct AsyncPostExContext : AsyncRequestContext {
  AsyncPostExContext(const asio::ConnectionInfo& info, const std::string& uri, const std::string& body,
                     const HttpHeaders& headers);
};

// Decodes a chunked body as it arrives. Strict: hexadecimal sizes, CRLF after every line and
// every chunk; a size line or a trailer line longer than kMaxLineSize is malformed.
class ChunkedBodyDecoder {
 public:
  enum class Result { NeedMore, Done, Malformed, TooLarge };
  static constexpr size_t kMaxLineSize = 4096;
  static constexpr size_t kMaxTrailerLines = 100;

  // Takes bytes from [data, data + size) (`used` tells how many) and appends the chunk data to
  // `body`, which may not grow beyond `maxBody`.
  Result feed(const char* data, size_t size, size_t& used, Body& body, size_t maxBody);

 private:
  enum class State { SizeLine, Data, DataEnd, Trailer, Done };
  Result takeLine(const char* data, size_t size, size_t& used, bool& complete);
  Result endSizeLine(const Body& body, size_t maxBody);
  Result endTrailerLine();

  State state_ = State::SizeLine;
  size_t chunkLeft_ = 0;
  size_t trailerLines_ = 0;
  std::string line_;
};

// How the body of `response` ends, as the head tells it.
enum class BodyFraming { None, ContentLength, Chunked, UntilClose };
// Decides the framing; `length` gets a Content-Length. bad_response for an unreadable or
// contradictory Content-Length, response_too_large when it exceeds `maxBody`.
boost::system::error_code bodyFraming(const HttpResponse& response, size_t maxBody, BodyFraming& framing,
                                      size_t& length);

// Position just after the first "\r\n\r\n" in [begin, end), or 0 when there is none.
size_t headEnd(const char* begin, const char* end);

// The end of a stream the camera closed: EOF, or a TLS peer that closed without close_notify.
inline bool isEndOfStream(const boost::system::error_code& error) {
  return error == boost::asio::error::eof || error == boost::asio::ssl::error::stream_truncated;
}

// Creates, hands out and starts a request of any method (the code behind asyncGetEx,
// asyncPostEx and the blocking helpers).
void startRequest(const asio::ConnectionInfo& info, const HttpRequest& request, boost::asio::io_context& context,
                  const boost::posix_time::time_duration& timeout, Callback callback, AsyncOperationPtr& operation,
                  ILogger* logger);

}  // namespace detail

// The errors the caller of a request sees.
struct AsyncRequestCodesMap {
  // A status error of the answer: the body is still read.
  static bool isAnswerStatus(const boost::system::error_code& error) {
    return error && error.category() == http_category();
  }
  // A camera that closes the connection before the answer is complete sent an unusable answer.
  template <class Step>
  static boost::system::error_code translate(Step, const boost::system::error_code& error) {
    if (detail::isEndOfStream(error)) return error::make_error_code(error::bad_response);
    return error;
  }
};

class AsyncRequestSteps {
 public:
  enum class Step { Resolve, Connect, Handshake, Write, ReadHead, ReadBody, Done };
  static constexpr size_t kReadChunk = 16 * 1024;
  using BodyFraming = detail::BodyFraming;
  using BodyProgress = detail::ChunkedBodyDecoder::Result;

  Step first() const { return Step::Resolve; }

  template <class Op>
  Step next(Step finished, Op& op) const {
    switch (finished) {
      case Step::Resolve:
        return Step::Connect;
      case Step::Connect:
        return op.request().info.secure() ? Step::Handshake : Step::Write;
      case Step::Handshake:
        return Step::Write;
      case Step::Write:
        return Step::ReadHead;
      case Step::ReadHead:
        return Step::ReadBody;
      default:
        return Step::Done;
    }
  }

  template <class Op>
  void run(Step step, Op& op) {
    switch (step) {
      case Step::Resolve:
        return resolve(op);
      case Step::Connect:
        return connect(op);
      case Step::Handshake:
        return handshake(op);
      case Step::Write:
        return write(op);
      case Step::ReadHead:
        return readHead(op);
      case Step::ReadBody:
        return readBody(op);
      case Step::Done:
        return;
    }
  }

 private:
  template <class Op>
  void resolve(Op& op) {
    const asio::ConnectionInfo& info = op.request().info;
    op.sockets().resolver.async_resolve(
        info.host, std::to_string(info.port),
        [self = op.keepAlive(), this](const boost::system::error_code& error,
                                      boost::asio::ip::tcp::resolver::results_type results) {
          endpoints_ = std::move(results);
          self->completeStep(error);
        });
  }

  template <class Op>
  void connect(Op& op) {
    auto& socket = op.request().info.secure() ? op.sockets().tlsStream.next_layer() : op.sockets().socket;
    boost::asio::async_connect(
        socket, endpoints_,
        [self = op.keepAlive()](const boost::system::error_code& error, const boost::asio::ip::tcp::endpoint&) {
          self->completeStep(error);
        });
  }

  template <class Op>
  void handshake(Op& op) {
    const std::string& host = op.request().info.host;
    auto& stream = op.sockets().tlsStream;
    boost::system::error_code notAnAddress;
    boost::asio::ip::make_address(host, notAnAddress);
    if (notAnAddress) SSL_set_tlsext_host_name(stream.native_handle(), host.c_str());  // SNI names hosts only
    if (tlsVerificationEnabled()) stream.set_verify_callback(boost::asio::ssl::host_name_verification(host));
    stream.async_handshake(
        boost::asio::ssl::stream_base::client,
        [self = op.keepAlive()](const boost::system::error_code& error) { self->completeStep(error); });
  }

  template <class Op>
  void write(Op& op) {
    requestText_ = op.request().text();
    auto done = [self = op.keepAlive()](const boost::system::error_code& error, size_t) { self->completeStep(error); };
    if (op.request().info.secure())
      boost::asio::async_write(op.sockets().tlsStream, boost::asio::buffer(requestText_), done);
    else
      boost::asio::async_write(op.sockets().socket, boost::asio::buffer(requestText_), done);
  }

  // Reads from the open socket: the plain one if open, else the TLS stream if open.
  template <class Op, class Read>
  void withOpenSocket(Op& op, Read&& read) {
    auto& sockets = op.sockets();
    auto noSocket = [&op]() {
      NLOG(op.log(), 3, " ReadResponse - no sockets are opened");
      op.completeStepLater(error::make_error_code(error::no_socket));
    };
    if (sockets.socket.is_open())
      read(sockets.socket);
    else if (sockets.tlsStream.lowest_layer().is_open())
      read(sockets.tlsStream);
    else
      noSocket();
  }

  template <class Op>
  void readHead(Op& op) {
    withOpenSocket(op, [&op, this](auto& stream) { readHeadFrom(op, stream); });
  }

  template <class Op, class Stream>
  void readHeadFrom(Op& op, Stream& stream) {
    boost::asio::streambuf& buffer = op.receiveBuffer();
    if (detail::headEnd(bufferBegin(buffer), bufferEnd(buffer)) != 0) return parseHead(op);
    if (buffer.size() >= kMaxHeadSize) return op.completeStepLater(error::make_error_code(error::bad_response));
    stream.async_read_some(buffer.prepare(std::min(kReadChunk, kMaxHeadSize - buffer.size())),
                           [self = op.keepAlive(), this, &stream](const boost::system::error_code& error, size_t n) {
                             self->receiveBuffer().commit(n);
                             if (self->finished()) return;
                             if (error) return self->completeStep(error);
                             readHeadFrom(*self, stream);
                           });
  }

  // The buffer holds a whole head: status line, headers, empty line.
  template <class Op>
  void parseHead(Op& op) {
    boost::asio::streambuf& buffer = op.receiveBuffer();
    const char* begin = bufferBegin(buffer);
    const char* end = begin + detail::headEnd(begin, bufferEnd(buffer));
    HttpResponse parsed;
    const size_t statusBytes = parseStatusLine(begin, end, parsed);
    const size_t headerBytes = statusBytes != 0 ? parseHeaders(begin + statusBytes, end, parsed.headers) : 0;
    if (statusBytes == 0 || headerBytes == 0) {
      buffer.consume(std::min(static_cast<size_t>(end - begin), buffer.size()));
      return op.completeStep(error::make_error_code(error::bad_response));
    }
    buffer.consume(std::min(statusBytes + headerBytes, buffer.size()));
    op.response() = std::move(parsed);
    if (op.response().isSuccess()) return op.completeStep({});
    op.completeStep(boost::system::error_code(op.response().status, http_category()));
  }

  template <class Op>
  void readBody(Op& op) {
    const boost::system::error_code error = detail::bodyFraming(op.response(), kMaxBodySize, framing_, contentLeft_);
    if (error || framing_ == BodyFraming::None) return op.completeStepLater(error);
    withOpenSocket(op, [&op, this](auto& stream) { readBodyFrom(op, stream); });
  }

  template <class Op, class Stream>
  void readBodyFrom(Op& op, Stream& stream) {
    const BodyProgress progress = takeBuffered(op);
    if (progress != BodyProgress::NeedMore) return op.completeStepLater(progressError(progress));
    boost::asio::streambuf& buffer = op.receiveBuffer();
    const size_t room = std::min(kReadChunk, buffer.max_size() - buffer.size());
    if (room == 0) return op.completeStepLater(error::make_error_code(error::bad_response));
    stream.async_read_some(buffer.prepare(room),
                           [self = op.keepAlive(), this, &stream](const boost::system::error_code& error, size_t n) {
                             self->receiveBuffer().commit(n);
                             if (self->finished()) return;
                             const BodyProgress progress = takeBuffered(*self);
                             if (progress != BodyProgress::NeedMore) return self->completeStep(progressError(progress));
                             if (error && framing_ == BodyFraming::UntilClose && detail::isEndOfStream(error))
                               return self->completeStep({});
                             if (error) return self->completeStep(error);
                             readBodyFrom(*self, stream);
                           });
  }

  static boost::system::error_code progressError(BodyProgress progress) {
    if (progress == BodyProgress::Malformed) return error::make_error_code(error::bad_response);
    if (progress == BodyProgress::TooLarge) return error::make_error_code(error::response_too_large);
    return {};
  }

  // Moves what the receive buffer holds into the body, as the framing allows.
  template <class Op>
  BodyProgress takeBuffered(Op& op) {
    boost::asio::streambuf& buffer = op.receiveBuffer();
    Body& body = op.body();
    const char* data = bufferBegin(buffer);
    switch (framing_) {
      case BodyFraming::ContentLength: {
        const size_t n = std::min(contentLeft_, buffer.size());
        body.insert(body.end(), data, data + n);
        buffer.consume(n);
        contentLeft_ -= n;
        return contentLeft_ == 0 ? BodyProgress::Done : BodyProgress::NeedMore;
      }
      case BodyFraming::UntilClose: {
        if (buffer.size() > kMaxBodySize - body.size()) return BodyProgress::TooLarge;
        body.insert(body.end(), data, data + buffer.size());
        buffer.consume(buffer.size());
        return BodyProgress::NeedMore;
      }
      case BodyFraming::Chunked: {
        size_t used = 0;
        const BodyProgress result = chunked_.feed(data, buffer.size(), used, body, kMaxBodySize);
        buffer.consume(std::min(used, buffer.size()));
        return result;
      }
      default:
        return BodyProgress::Done;
    }
  }

  static const char* bufferBegin(const boost::asio::streambuf& buffer) {
    return static_cast<const char*>(buffer.data().data());
  }
  static const char* bufferEnd(const boost::asio::streambuf& buffer) { return bufferBegin(buffer) + buffer.size(); }

  boost::asio::ip::tcp::resolver::results_type endpoints_;
  std::string requestText_;  // kept here while it is written
  BodyFraming framing_ = BodyFraming::None;
  size_t contentLeft_ = 0;
  detail::ChunkedBodyDecoder chunked_;
};

using GetOperation = AsyncComplexOperation<AsyncRequestSteps, detail::AsyncGetExContext, AsyncRequestCodesMap>;
using PostOperation = AsyncComplexOperation<AsyncRequestSteps, detail::AsyncPostExContext, AsyncRequestCodesMap>;
using RequestOperation = AsyncComplexOperation<AsyncRequestSteps, detail::AsyncRequestContext, AsyncRequestCodesMap>;

}  // namespace http
}  // namespace Talvo
