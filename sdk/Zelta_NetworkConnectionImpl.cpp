#include "Zelta_NetworkConnectionImpl.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "Zelta_Print.h"

namespace Zelta {
namespace {

bool setNonBlocking(int socket, bool on) {
  const int flags = fcntl(socket, F_GETFL, 0);
  if (flags < 0) return false;
  return fcntl(socket, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

int msLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

constexpr int kAbandonCheckMs = 10;  // how often a wait looks at the abandon check

bool isNumericAddress(const char* host) {
  in6_addr address;
  return inet_pton(AF_INET, host, &address) == 1 || inet_pton(AF_INET6, host, &address) == 1;
}

// One resolve, shared by the waiting caller and the helper thread; whoever is last frees it.
struct Resolution {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int code = EAI_FAIL;
  addrinfo* addresses = nullptr;
  ~Resolution() {
    if (addresses) freeaddrinfo(addresses);
  }
};

}  // namespace

Zelta_NetworkConnectionImpl::Zelta_NetworkConnectionImpl(std::chrono::milliseconds connectTimeout, Abandon abandon,
                                                         Resolver resolver)
    : m_connectTimeout(connectTimeout),
      m_abandon(std::move(abandon)),
      m_resolver(resolver ? std::move(resolver) : Resolver(::getaddrinfo)) {
  ZELTA_TRACE(kTraceNetwork, "creating new connection helper");
}

int Zelta_NetworkConnectionImpl::pollUntil(int socket, short events, std::chrono::steady_clock::time_point deadline) {
  pollfd waiter{socket, events, 0};
  for (;;) {
    if (abandoned()) return 0;
    const int left = msLeft(deadline);
    const int result = ::poll(&waiter, 1, std::min(left, kAbandonCheckMs));
    if (result != 0 && !(result < 0 && errno == EINTR)) return result;
    if (left == 0) return 0;
  }
}

addrinfo* Zelta_NetworkConnectionImpl::resolve(const char* host, int port,
                                               std::chrono::steady_clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  const std::string service = std::to_string(port);
  if (isNumericAddress(host)) {  // no name server involved: answered at once
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* addresses = nullptr;
    return m_resolver(host, service.c_str(), &hints, &addresses) == 0 ? addresses : nullptr;
  }
  auto resolution = std::make_shared<Resolution>();
  std::thread([resolution, resolver = m_resolver, name = std::string(host), service, hints] {
    addrinfo* addresses = nullptr;
    const int code = resolver(name.c_str(), service.c_str(), &hints, &addresses);
    std::lock_guard<std::mutex> lock(resolution->mutex);
    resolution->code = code;
    resolution->addresses = addresses;
    resolution->finished = true;
    resolution->done.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(resolution->mutex);
  while (!resolution->finished) {
    const int left = msLeft(deadline);
    if (left == 0 || abandoned()) return nullptr;  // the helper frees what it finds later
    resolution->done.wait_for(lock, std::chrono::milliseconds(std::min(left, kAbandonCheckMs)));
  }
  if (resolution->code != 0) return nullptr;
  return std::exchange(resolution->addresses, nullptr);
}

int Zelta_NetworkConnectionImpl::connectBounded(int socket, const sockaddr* address, socklen_t addressLength,
                                                std::chrono::steady_clock::time_point deadline) {
  if (!setNonBlocking(socket, true)) return errno;
  int result = ::connect(socket, address, addressLength);
  int error = result == 0 ? 0 : errno;
  if (error == EINPROGRESS) {
    ZELTA_TRACE(kTraceNetwork, "Connection in progress");
    result = pollUntil(socket, POLLOUT, deadline);
    if (result == 0) {
      error = ETIMEDOUT;
    } else if (result < 0) {
      error = errno;
    } else {
      socklen_t length = sizeof(error);
      if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    }
  }
  // Back to blocking: receiving waits with poll first; sends never block (MSG_DONTWAIT).
  if (error == 0 && !setNonBlocking(socket, false)) error = errno;
  return error;
}

NetworkResult Zelta_NetworkConnectionImpl::setupConnectionToRemoteHost(const char* host, int port, bool ssl,
                                                                       int* socketOut) {
  if (!host || !socketOut || port > 65535 || port < 0) return kNetworkError;
  if (ssl) {
    Zelta_Print::message("SSL support not implemented!!!!");
    return kNetworkError;
  }
  // One time-out for the whole attempt: the name, however many addresses it has, and connecting.
  const auto deadline = std::chrono::steady_clock::now() + m_connectTimeout;
  addrinfo* addresses = resolve(host, port, deadline);
  if (!addresses) {
    Zelta_Print::message(concat("Error resolving host ", host));
    return kNetworkError;
  }
  ZELTA_TRACE(kTraceNetwork, "Connecting... ");
  int connected = -1;
  int lastError = 0;
  for (addrinfo* address = addresses; address && connected < 0; address = address->ai_next) {
    const int socket = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
    if (socket <= 0) {
      Zelta_Print::message("Error creating socket");
      lastError = errno;
      continue;
    }
    lastError = connectBounded(socket, address->ai_addr, address->ai_addrlen, deadline);
    if (lastError == 0)
      connected = socket;
    else
      ::close(socket);
  }
  freeaddrinfo(addresses);
  if (connected < 0) {
    Zelta_Print::message(concat("Connection failed: ", lastError));
    *socketOut = 0;
    return kNetworkError;
  }
  *socketOut = connected;
  ZELTA_TRACE(kTraceNetwork, "Connection ready");
  sendConnectionReady(connected);
  return kNetworkSuccess;
}

NetworkResult Zelta_NetworkConnectionImpl::receiveData(int socket, uint8_t* buffer, size_t capacity, size_t* received) {
  if (socket < 1 || !buffer) return kNetworkError;
  if (received) *received = 0;
  pollfd waiter{socket, POLLIN, 0};
  const int ready = ::poll(&waiter, 1, kReceiveWaitMs);
  if (ready < 0) {
    if (errno == EINTR) return kNetworkNothingReceived;
    Zelta_Print::message(concat("select failed with ", std::strerror(errno), " ", errno));
    return kNetworkError;
  }
  if (ready == 0) return kNetworkNothingReceived;
  const ssize_t count = ::recv(socket, buffer, capacity, 0);
  if (count < 0) {
    if (errno == EINTR || errno == EAGAIN) return kNetworkNothingReceived;
    return kNetworkError;
  }
  if (received) *received = static_cast<size_t>(count);
  // The camera closed the stream: poll would report the socket readable at once on every later
  // step, so an end of data is an error that ends the connection instead of a busy loop.
  return count == 0 ? kNetworkError : kNetworkSuccess;
}

NetworkResult Zelta_NetworkConnectionImpl::sendData(int socket, const uint8_t* data, size_t length, int* sent) {
  if (socket < 1 || !data) return kNetworkError;
  // A camera that reads nothing fills the send buffer: wait for room at most kSendWaitMs, then
  // report what went out (the caller retries a few times and then closes the connection).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendWaitMs);
  size_t done = 0;
  bool failed = false;
  while (done < length && !failed) {
    // MSG_NOSIGNAL: a camera that went away must not raise SIGPIPE in the host process.
    const ssize_t count = ::send(socket, data + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count > 0) {
      done += static_cast<size_t>(count);
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      failed = pollUntil(socket, POLLOUT, deadline) <= 0;
    } else {
      failed = true;
    }
  }
  if (sent) *sent = static_cast<int>(done);
  return done == length ? kNetworkSuccess : kNetworkError;
}

NetworkResult Zelta_NetworkConnectionImpl::closeConnection(int socket) {
  if (socket <= 0) {
    Zelta_Print::message("called close without connection");
    return kNetworkError;
  }
  ::close(socket);
  sendConnectionClosed(socket);
  return kNetworkSuccess;
}

}  // namespace Zelta
