// The two kinds of connection the server speaks on (plain TCP and TLS over TCP) and the few
// operations whose code differs between them. Sessions are templates over these types.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <chrono>
#include <utility>

namespace camsim {

namespace net = boost::asio;
namespace beast = boost::beast;
using error_code = boost::system::error_code;

using TcpStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

inline beast::tcp_stream& tcpLayer(TcpStream& stream) { return stream; }
inline beast::tcp_stream& tcpLayer(TlsStream& stream) { return stream.next_layer(); }

// Makes the connection ready for HTTP: nothing for TCP, the TLS handshake for TLS.
// Handler: void(error_code), called on the stream's executor.
template <class Handler>
void asyncOpen(TcpStream& stream, Handler&& handler) {
  net::post(stream.get_executor(), [handler = std::forward<Handler>(handler)]() mutable { handler(error_code()); });
}
template <class Handler>
void asyncOpen(TlsStream& stream, Handler&& handler) {
  tcpLayer(stream).expires_after(std::chrono::seconds(10));
  stream.async_handshake(net::ssl::stream_base::server, std::forward<Handler>(handler));
}

// Ends a connection after a complete answer: TCP half-close, TLS close_notify (bounded wait).
template <class Handler>
void asyncFinish(TcpStream& stream, Handler&& handler) {
  error_code ignored;
  stream.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
  net::post(stream.get_executor(), [handler = std::forward<Handler>(handler)]() mutable { handler(error_code()); });
}
template <class Handler>
void asyncFinish(TlsStream& stream, Handler&& handler) {
  tcpLayer(stream).expires_after(std::chrono::seconds(5));
  stream.async_shutdown(std::forward<Handler>(handler));
}

// Drops the connection at once (faults, errors, client gone).
template <class Stream>
void closeNow(Stream& stream) {
  error_code ignored;
  tcpLayer(stream).socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
  tcpLayer(stream).close();
}

}  // namespace camsim
