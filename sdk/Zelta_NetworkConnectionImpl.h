// Plain-TCP connection: resolves with getaddrinfo (IPv4 and IPv6), connects without blocking for
// longer than the connect time-out, waits for data with poll (no descriptor limit), and sends
// with one send call per request. No TLS ("https" setups fail).
#pragma once

#include <sys/socket.h>

#include <chrono>

#include "Zelta_NetworkConnection.h"

namespace Zelta {

class Zelta_NetworkConnectionImpl : public Zelta_NetworkConnection {
 public:
  // A camera that neither accepts nor refuses within this time counts as unreachable.
  static constexpr std::chrono::milliseconds kDefaultConnectTimeout{5000};
  // How long receiveData waits for data before it reports nothing received; paces the SDK loop.
  static constexpr int kReceiveWaitMs = 10;

  explicit Zelta_NetworkConnectionImpl(std::chrono::milliseconds connectTimeout = kDefaultConnectTimeout);

  NetworkResult setupConnectionToRemoteHost(const char* host, int port, bool ssl, int* socketOut) override;
  NetworkResult receiveData(int socket, uint8_t* buffer, size_t capacity, size_t* received) override;
  NetworkResult sendData(int socket, const uint8_t* data, size_t length, int* sent) override;
  NetworkResult closeConnection(int socket) override;

 private:
  // Connects `socket` to the address within the remaining time; 0 or the errno of the failure.
  int connectBounded(int socket, const sockaddr* address, socklen_t addressLength,
                     std::chrono::steady_clock::time_point deadline);

  const std::chrono::milliseconds m_connectTimeout;
};

}  // namespace Zelta
