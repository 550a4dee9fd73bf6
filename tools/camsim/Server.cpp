#include "Server.h"

#include "ServerSession.h"
#include "SelfSignedCert.h"
#include "StreamOps.h"

#include <csignal>
#include <thread>
#include <vector>

namespace camsim {

using boost::asio::ip::tcp;

Server::Server(const Options& options, const SimContext& ctx)
    : options_(options),
      ctx_(ctx),
      io_(kThreads),
      control_(net::make_strand(io_)),
      httpAcceptor_(control_),
      httpsAcceptor_(control_),
      signals_(control_, SIGINT, SIGTERM) {
  if (options.httpsEnabled) {
    tls_.emplace(net::ssl::context::tls_server);
    tls_->set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                      net::ssl::context::no_sslv3);
    useSelfSignedCertificate(*tls_);
  }
}

Server::~Server() = default;

void Server::openAcceptor(tcp::acceptor& acceptor, std::uint16_t port) {
  const tcp::endpoint endpoint(net::ip::make_address(options_.bindAddress), port);
  acceptor.open(endpoint.protocol());
  acceptor.set_option(net::socket_base::reuse_address(true));
  acceptor.bind(endpoint);
  acceptor.listen(net::socket_base::max_listen_connections);
}

Ports Server::listen() {
  Ports ports;
  openAcceptor(httpAcceptor_, options_.httpPort);
  ports.http = httpAcceptor_.local_endpoint().port();
  accept<TcpStream>(httpAcceptor_);
  if (tls_) {
    openAcceptor(httpsAcceptor_, options_.httpsPort);
    ports.https = httpsAcceptor_.local_endpoint().port();
    accept<TlsStream>(httpsAcceptor_);
  }
  return ports;
}

template <class Stream>
void Server::accept(tcp::acceptor& acceptor) {
  // Each connection gets its own strand, so its handlers never run at the same time.
  acceptor.async_accept(net::make_strand(io_), [this, &acceptor](error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
    if (!ec) {
      if constexpr (std::is_same_v<Stream, TlsStream>) {
        std::make_shared<ServerSession<TlsStream>>(TlsStream(std::move(socket), *tls_), ctx_)->start();
      } else {
        std::make_shared<ServerSession<TcpStream>>(TcpStream(std::move(socket)), ctx_)->start();
      }
    }
    accept<Stream>(acceptor);
  });
}

void Server::stop() {
  error_code ignored;
  httpAcceptor_.close(ignored);
  httpsAcceptor_.close(ignored);
  io_.stop();
}

void Server::run() {
  signals_.async_wait([this](error_code ec, int) {
    if (!ec) stop();
  });
  std::vector<std::thread> pool;
  for (int i = 0; i < kThreads; ++i) pool.emplace_back([this] { io_.run(); });
  for (std::thread& thread : pool) thread.join();
}

}  // namespace camsim
