// Bodies of the request steps declared in Nuvlet/include/AsyncHttp.h.
#pragma once

#include <algorithm>
#include <utility>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/write.hpp>

#include "Nuvlet/include/HttpTls.h"
#include "Nuvlet/include/ThreadCheck.h"

namespace Talvo {
namespace http {

template <class Op>
AsyncRequestSteps::Step AsyncRequestSteps::next(Step finished, Op& op) const {
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
void AsyncRequestSteps::run(Step step, Op& op) {
  // The first step may start before the io_context runs; the others run from its handlers.
  NUVLET_DCHECK_CALLED_ON(step == first() || op.onOwnThread());
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

template <class Op>
void AsyncRequestSteps::resolve(Op& op) {
  const asio::ConnectionInfo& info = op.request().info;
  boost::asio::ip::tcp::endpoint literal;
  if (asio::literalEndpoint(info, literal)) {
    // An address needs no lookup.
    endpoints_ = boost::asio::ip::tcp::resolver::results_type::create(literal, info.host, std::to_string(info.port));
    boost::asio::post(op.sockets().socket.get_executor(),
                      [self = op.keepAlive()]() { self->completeStep(boost::system::error_code()); });
    return;
  }
  op.sockets().lookup.start(
      info.host, info.port,
      [self = op.keepAlive(), this](const boost::system::error_code& error, asio::LookupResults results) {
        endpoints_ = std::move(results);
        self->completeStep(error);
      });
}

template <class Op>
void AsyncRequestSteps::connect(Op& op) {
  auto& socket = op.request().info.secure() ? op.sockets().tlsStream.next_layer() : op.sockets().socket;
  boost::asio::async_connect(
      socket, endpoints_,
      [self = op.keepAlive()](const boost::system::error_code& error, const boost::asio::ip::tcp::endpoint&) {
        self->completeStep(error);
      });
}

template <class Op>
void AsyncRequestSteps::handshake(Op& op) {
  const std::string& host = op.request().info.host;
  auto& stream = op.sockets().tlsStream;
  boost::system::error_code notAnAddress;
  boost::asio::ip::make_address(host, notAnAddress);
  if (notAnAddress) SSL_set_tlsext_host_name(stream.native_handle(), host.c_str());  // SNI names hosts only
  const std::string& pinned = op.request().info.tlsFingerprint;
  if (!pinned.empty())
    stream.set_verify_mode(boost::asio::ssl::verify_none);  // the pin decides, whatever signs the certificate
  else if (tlsVerificationEnabled())
    stream.set_verify_callback(boost::asio::ssl::host_name_verification(host));
  stream.async_handshake(boost::asio::ssl::stream_base::client,
                         [self = op.keepAlive(), &stream, pinned](boost::system::error_code error) {
                           if (!error && !pinned.empty()) {
                             const std::string presented = peerFingerprint(stream.native_handle());
                             if (presented != pinned) {
                               NLOG(self->log(), 3,
                                    " TLS certificate of " << self->request().info.hostAndPort() << " has fingerprint "
                                                           << fingerprintText(presented) << ", pinned "
                                                           << fingerprintText(pinned));
                               error = error::make_error_code(error::certificate_mismatch);
                             }
                           }
                           self->completeStep(error);
                         });
}

template <class Op>
void AsyncRequestSteps::write(Op& op) {
  requestText_ = op.request().text();
  auto done = [self = op.keepAlive()](const boost::system::error_code& error, size_t) { self->completeStep(error); };
  if (op.request().info.secure())
    boost::asio::async_write(op.sockets().tlsStream, boost::asio::buffer(requestText_), done);
  else
    boost::asio::async_write(op.sockets().socket, boost::asio::buffer(requestText_), done);
}

template <class Op, class Read>
void AsyncRequestSteps::withOpenSocket(Op& op, Read&& read) {
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
void AsyncRequestSteps::readHead(Op& op) {
  withOpenSocket(op, [&op, this](auto& stream) { readHeadFrom(op, stream); });
}

template <class Op, class Stream>
void AsyncRequestSteps::readHeadFrom(Op& op, Stream& stream) {
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

template <class Op>
void AsyncRequestSteps::parseHead(Op& op) {
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
void AsyncRequestSteps::readBody(Op& op) {
  const boost::system::error_code error = detail::bodyFraming(op.response(), kMaxBodySize, framing_, contentLeft_);
  if (error || framing_ == BodyFraming::None) return op.completeStepLater(error);
  withOpenSocket(op, [&op, this](auto& stream) { readBodyFrom(op, stream); });
}

template <class Op, class Stream>
void AsyncRequestSteps::readBodyFrom(Op& op, Stream& stream) {
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

inline boost::system::error_code AsyncRequestSteps::progressError(BodyProgress progress) {
  if (progress == BodyProgress::Malformed) return error::make_error_code(error::bad_response);
  if (progress == BodyProgress::TooLarge) return error::make_error_code(error::response_too_large);
  return {};
}

template <class Op>
AsyncRequestSteps::BodyProgress AsyncRequestSteps::takeBuffered(Op& op) {
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

}  // namespace http
}  // namespace Talvo
