// Camera requests whose answer body is a stream (recording playback): declarations only;
// implemented in libNuvlet (the operation is Nuvlet/include/AsyncHttpStream.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

#include "Http.h"

namespace Talvo {
namespace http {

// Takes each piece of a streamed answer body as it arrives; a set error ends the request with it.
using StreamSink = std::function<boost::system::error_code(const uint8_t* data, size_t size)>;

// As asyncGetEx, for an answer body that is a stream (Nuvlet/include/AsyncHttpStream.h): the
// bytes go to `sink` on `io` as they arrive (the chunk data of a chunked answer); the callback's
// body is always empty. The request ends with eof when the camera closed the stream, the
// announced length has passed or the last chunk came. `timeoutSeconds` covers the whole stream;
// `silenceMilliseconds` (not positive: none) ends it with timed_out when no byte came for as long.
void asyncGetStream(const asio::ConnectionInfo& info, const std::string& uri, boost::asio::io_context& io,
                    int timeoutSeconds, int silenceMilliseconds, StreamSink sink, Callback callback,
                    AsyncOperationPtr& operation, ILogger* logger = nullptr);

}  // namespace http
}  // namespace Talvo
