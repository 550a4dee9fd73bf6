#include "Zelta_NetworkConnectionImpl.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

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

}  // namespace

Zelta_NetworkConnectionImpl::Zelta_NetworkConnectionImpl(std::chrono::milliseconds connectTimeout)
    : m_connectTimeout(connectTimeout) {
  ZELTA_TRACE(kTraceNetwork, "creating new connection helper");
}

int Zelta_NetworkConnectionImpl::connectBounded(int socket, const sockaddr* address, socklen_t addressLength,
                                                std::chrono::steady_clock::time_point deadline) {
  if (!setNonBlocking(socket, true)) return errno;
  int result = ::connect(socket, address, addressLength);
  int error = result == 0 ? 0 : errno;
  if (error == EINPROGRESS) {
    ZELTA_TRACE(kTraceNetwork, "Connection in progress");
    pollfd waiter{socket, POLLOUT, 0};
    do {
      result = ::poll(&waiter, 1, msLeft(deadline));
    } while (result < 0 && errno == EINTR);
    if (result == 0) {
      error = ETIMEDOUT;
    } else if (result < 0) {
      error = errno;
    } else {
      socklen_t length = sizeof(error);
      if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    }
  }
  // Back to blocking: receiving waits with poll, and a send of a command goes out whole.
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
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* addresses = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host, service.c_str(), &hints, &addresses) != 0 || !addresses) {
    Zelta_Print::message(concat("Error resolving host ", host));
    return kNetworkError;
  }
  ZELTA_TRACE(kTraceNetwork, "Connecting... ");
  // One time-out for the whole attempt, however many addresses the name has.
  const auto deadline = std::chrono::steady_clock::now() + m_connectTimeout;
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
  // MSG_NOSIGNAL: a camera that went away must not raise SIGPIPE in the host process.
  const ssize_t count = ::send(socket, data, length, MSG_NOSIGNAL);
  if (sent) *sent = static_cast<int>(count);
  return count >= 0 && static_cast<size_t>(count) == length ? kNetworkSuccess : kNetworkError;
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
