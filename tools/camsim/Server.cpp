#include "Server.h"

#include <fstream>
#include <stdexcept>

#include "ServerSession.h"
#include "SelfSignedCert.h"
#include "StreamOps.h"

#include <boost/asio/ip/v6_only.hpp>

#include <csignal>
#include <future>
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
      signals_(control_, SIGINT, SIGTERM),
      refuseTimer_(control_) {
  // The control request is answered only once the refusal is in force (bounded wait: the other
  // pool thread runs the control strand).
  ctx.faults.onRefuse([this](long milliseconds) {
    auto closed = std::make_shared<std::promise<void>>();
    net::post(control_, [this, milliseconds, closed] {
      refuseFor(milliseconds);
      closed->set_value();
    });
    closed->get_future().wait_for(std::chrono::seconds(2));
  });
  if (options.httpsEnabled) {
    tls_.emplace(net::ssl::context::tls_server);
    tls_->set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                      net::ssl::context::no_sslv3);
    const Identity identity = useSelfSignedCertificate(*tls_);
    httpsFingerprint_ = identity.fingerprint;
    if (!options.certificateOut.empty()) {
      std::ofstream out(options.certificateOut, std::ios::binary | std::ios::trunc);
      out << identity.certificatePem;
      if (!out) throw std::runtime_error("cannot write the certificate to " + options.certificateOut);
    }
  }
}

Server::~Server() { ctx_.faults.onRefuse(nullptr); }

void Server::openAcceptor(tcp::acceptor& acceptor, std::uint16_t port) {
  const tcp::endpoint endpoint(net::ip::make_address(options_.bindAddress), port);
  acceptor.open(endpoint.protocol());
  acceptor.set_option(net::socket_base::reuse_address(true));
  // "::" takes IPv4 clients too, whatever the system's default.
  if (endpoint.address().is_v6()) acceptor.set_option(net::ip::v6_only(false));
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
    ports.httpsFingerprint = httpsFingerprint_;
    accept<TlsStream>(httpsAcceptor_);
  }
  ports_ = ports;
  return ports;
}

void Server::refuseFor(long milliseconds) {
  error_code ignored;
  httpAcceptor_.close(ignored);
  httpsAcceptor_.close(ignored);
  refuseTimer_.expires_after(std::chrono::milliseconds(milliseconds));
  refuseTimer_.async_wait([this](error_code ec) {
    if (ec) return;  // a newer refusal or the end of the server
    try {
      openAcceptor(httpAcceptor_, ports_.http);
      accept<TcpStream>(httpAcceptor_);
      if (tls_) {
        openAcceptor(httpsAcceptor_, ports_.https);
        accept<TlsStream>(httpsAcceptor_);
      }
    } catch (const boost::system::system_error&) {
      refuseFor(100);  // the port is still held by a closing socket: try again shortly
    }
  });
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
  refuseTimer_.cancel();
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
