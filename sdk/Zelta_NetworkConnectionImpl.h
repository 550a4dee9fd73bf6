// Plain-TCP connection: resolves with getaddrinfo (IPv4 and IPv6) and connects, both within the
// connect time-out; waits for data with poll (no descriptor limit); sends without blocking,
// waiting at most kSendWaitMs for room in the send buffer. No TLS ("https" setups fail).
// A name is resolved on a helper thread that the caller stops waiting for at the deadline or
// when its abandon check says so; the helper ends by itself when the resolver returns (the
// system resolver has time-outs of its own) and then frees its result.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <functional>

#include "Zelta_NetworkConnection.h"

struct addrinfo;

namespace Zelta {

class Zelta_NetworkConnectionImpl : public Zelta_NetworkConnection {
 public:
  // A camera that neither accepts nor refuses within this time counts as unreachable.
  static constexpr std::chrono::milliseconds kDefaultConnectTimeout{5000};
  // How long receiveData waits for data before it reports nothing received; paces the SDK loop.
  static constexpr int kReceiveWaitMs = 10;
  // How long one sendData waits for room in a full send buffer.
  static constexpr int kSendWaitMs = 100;

  // getaddrinfo's signature; the result is released with freeaddrinfo.
  using Resolver = std::function<int(const char* host, const char* service, const addrinfo* hints, addrinfo** out)>;
  // True when the caller wants a pending resolve, connect or send given up (e.g. it is stopping);
  // called on the SDK's thread.
  using Abandon = std::function<bool()>;

  explicit Zelta_NetworkConnectionImpl(std::chrono::milliseconds connectTimeout = kDefaultConnectTimeout,
                                       Abandon abandon = {}, Resolver resolver = {});

  NetworkResult setupConnectionToRemoteHost(const char* host, int port, bool ssl, int* socketOut) override;
  NetworkResult receiveData(int socket, uint8_t* buffer, size_t capacity, size_t* received) override;
  NetworkResult sendData(int socket, const uint8_t* data, size_t length, int* sent) override;
  NetworkResult closeConnection(int socket) override;

 private:
  // The host's addresses (freeaddrinfo them), or null when it could not be resolved in time.
  addrinfo* resolve(const char* host, int port, std::chrono::steady_clock::time_point deadline);
  // Connects `socket` to the address within the remaining time; 0 or the errno of the failure.
  int connectBounded(int socket, const sockaddr* address, socklen_t addressLength,
                     std::chrono::steady_clock::time_point deadline);
  // poll for `events` until the deadline, giving up early when abandoned; poll's result.
  int pollUntil(int socket, short events, std::chrono::steady_clock::time_point deadline);
  bool abandoned() const { return m_abandon && m_abandon(); }

  const std::chrono::milliseconds m_connectTimeout;
  const Abandon m_abandon;
  const Resolver m_resolver;
};

}  // namespace Zelta
