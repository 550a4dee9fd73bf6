// Listens on the HTTP (and optional HTTPS) port and runs the io_context on a pool of two
// threads until SIGINT or SIGTERM.
// Threading: construct, listen() and run() from the main thread; run() blocks until the
// signal, then stops the acceptors and the io_context and joins both pool threads. Open
// connections are closed when the io_context drops their pending handlers.
#pragma once

#include "Options.h"
#include "SimContext.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/strand.hpp>

#include <cstdint>
#include <string>
#include <memory>
#include <optional>

namespace camsim {

struct Ports {
  std::uint16_t http = 0;
  std::uint16_t https = 0;  // 0 when HTTPS is off
  std::string httpsFingerprint;  // of the HTTPS certificate: "AB:CD:..."; "" when HTTPS is off
};

class Server {
 public:
  // ctx must outlive the server.
  Server(const Options& options, const SimContext& ctx);
  ~Server();

  // Binds and listens; throws boost::system::system_error when a port cannot be had.
  Ports listen();
  void run();

  static constexpr int kThreads = 2;

 private:
  template <class Stream>
  void accept(boost::asio::ip::tcp::acceptor& acceptor);
  void openAcceptor(boost::asio::ip::tcp::acceptor& acceptor, std::uint16_t port);
  void stop();
  // Closes the listening sockets for `milliseconds` (the "refuse_ms" fault), then listens again
  // on the same ports. On the control strand.
  void refuseFor(long milliseconds);

  const Options& options_;
  const SimContext& ctx_;
  // Declared before io_ so it outlives the TLS connections io_ still holds at destruction.
  std::optional<boost::asio::ssl::context> tls_;
  std::string httpsFingerprint_;
  boost::asio::io_context io_;
  // Acceptors and the signal handler share one strand: stop() closes the acceptors while an
  // accept handler may be starting the next accept.
  boost::asio::strand<boost::asio::io_context::executor_type> control_;
  boost::asio::ip::tcp::acceptor httpAcceptor_;
  boost::asio::ip::tcp::acceptor httpsAcceptor_;
  boost::asio::signal_set signals_;
  boost::asio::steady_timer refuseTimer_;
  Ports ports_;  // where listen() listens, for listening again after a refusal
};

}  // namespace camsim
