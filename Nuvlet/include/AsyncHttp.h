// The steps of a camera request over HTTP or HTTPS, for AsyncComplexOperation: resolve, connect,
// TLS handshake, write the request, read the answer's head, read its body. Declarations; the
// bodies are in impl/AsyncHttp.hpp.
//
// Every byte the camera sends lands in capped buffers: the head in the operation's receive
// buffer (kMaxHeadSize), the body in its Body (kMaxBodySize). A Content-Length above the cap
// ends the request with 264 before anything of the body is read.
//
// Threads: every step runs on the operation's io_context (checked in debug builds). A step
// never completes inside the call that runs it: it completes from an I/O handler, or posts its
// outcome with completeStepLater.
#pragma once

#include <cstddef>
#include <string>

#include <boost/asio/error.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/system/error_code.hpp>

#include "Nuvlet/include/AsyncComplexOperation.h"
#include "Nuvlet/include/ChunkedBodyDecoder.h"
#include "Nuvlet/include/HttpAnswerHead.h"
#include "Nuvlet/include/HttpRequestText.h"
#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/Http.h"

namespace Talvo {
namespace http {
namespace detail {

// The end of a stream the camera closed: EOF, or a TLS peer that closed without close_notify.
inline bool isEndOfStream(const boost::system::error_code& error) {
  return error == boost::asio::error::eof || error == boost::asio::ssl::error::stream_truncated;
}

// Creates, hands out and starts a request of any method (the code behind the blocking
// helpers). As asyncGetEx: the callback runs later on `io`, never inside this call.
void startRequest(const asio::ConnectionInfo& info, const HttpRequest& request, boost::asio::io_context& io,
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
  // The step after `finished`: the handshake only for HTTPS.
  template <class Op>
  Step next(Step finished, Op& op) const;
  // Starts `step`; it ends with op.completeStep or op.completeStepLater.
  template <class Op>
  void run(Step step, Op& op);

 private:
  template <class Op>
  void resolve(Op& op);
  template <class Op>
  void connect(Op& op);
  template <class Op>
  void handshake(Op& op);
  template <class Op>
  void write(Op& op);
  // Reads from the open socket: the plain one if open, else the TLS stream if open; neither
  // ends the step with 263.
  template <class Op, class Read>
  void withOpenSocket(Op& op, Read&& read);
  template <class Op>
  void readHead(Op& op);
  template <class Op, class Stream>
  void readHeadFrom(Op& op, Stream& stream);
  // The buffer holds a whole head: status line, headers, empty line.
  template <class Op>
  void parseHead(Op& op);
  template <class Op>
  void readBody(Op& op);
  template <class Op, class Stream>
  void readBodyFrom(Op& op, Stream& stream);
  static boost::system::error_code progressError(BodyProgress progress);
  // Moves what the receive buffer holds into the body, as the framing allows.
  template <class Op>
  BodyProgress takeBuffered(Op& op);

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
using RequestOperation = AsyncComplexOperation<AsyncRequestSteps, detail::OutgoingRequest, AsyncRequestCodesMap>;

}  // namespace http
}  // namespace Talvo

#include "impl/AsyncHttp.hpp"
