#include "Zelta_SourceAsyncNet.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "Zelta_Print.h"

namespace Zelta {
namespace {

int connectionStateFor(int status) {
  switch (status) {
    case eNetStatus_Closed:
      return 1;
    case eNetStatus_Closing:
      return 0;
    case eNetStatus_Opening:
      return 2;
    case eNetStatus_Open:
    case eNetStatus_Connected:
    case 5:
      return 3;
    default:
      return 4;
  }
}

Zelta_SourceAsyncNet* sourceOf(void* user) { return static_cast<Zelta_SourceAsyncNet*>(user); }

}  // namespace

Zelta_SourceAsyncNet::Zelta_SourceAsyncNet(std::shared_ptr<Zelta_NetworkConnection> connection)
    : m_connection(std::move(connection)) {
  ZELTA_CHECK(m_connection != nullptr);
  NetworkCallbacks callbacks;
  callbacks.connectionReady = &Zelta_SourceAsyncNet::cbConnectionOpen;
  callbacks.dataAvailable = &Zelta_SourceAsyncNet::cbRecvData;
  callbacks.connectionClosed = &Zelta_SourceAsyncNet::cbConnectionClosed;
  callbacks.networkError = &Zelta_SourceAsyncNet::errorRelay;
  callbacks.user = this;
  m_connection->setCallbacks(callbacks);
  externalRecv = externalSend = externalConnect = externalClose = true;
}

Zelta_SourceAsyncNet::~Zelta_SourceAsyncNet() {
  // The connection may outlive this source: it must not call back into freed memory.
  m_connection->setCallbacks(NetworkCallbacks{});
  std::free(m_host);
}

void Zelta_SourceAsyncNet::setHost(const char* host) {
  std::free(m_host);
  m_host = host ? strdup(host) : nullptr;
}

char* Zelta_SourceAsyncNet::getHost() const { return m_host ? strdup(m_host) : nullptr; }

void Zelta_SourceAsyncNet::setStatus(int status) {
  if (status == m_status) return;
  if (m_status == eNetStatus_Closed && status != eNetStatus_Opening && status != eNetStatus_Open) {
    Zelta_Print::message(
        "inconsistent network status change, status \"closed\" may only change to \"opening\" or \"open\", "
        "keeping status \"closed\"");
    return;
  }
  m_status = status;
  const int state = connectionStateFor(status);
  if (state != m_connectionState) {
    m_connectionState = state;
    m_connection->setConnectionState(state);
  }
}

int Zelta_SourceAsyncNet::connect_remote() {
  ZELTA_CHECK(externalConnect);
  // A connection still open is closed first: its socket would be lost (and never closed) when
  // the new one takes its place.
  if (m_socket > 0) close_remote(false);
  setStatus(eNetStatus_Opening);
  const NetworkResult result = m_connection->setupConnectionToRemoteHost(m_host, m_port, m_secure, &m_socket);
  if (result != kNetworkSuccess) {
    Zelta_Print::message(concat("connection to ", m_host ? m_host : "", " NOT established"));
    cbNetworkError(m_socket, 0, "Connection failed", this);
  } else if (m_status != eNetStatus_Connected) {
    setStatus(eNetStatus_Open);
  }
  return m_socket > 0 ? 1 : -1;
}

int Zelta_SourceAsyncNet::close_remote(bool autoReconnect) {
  ZELTA_CHECK(externalClose);
  m_autoReconnect = autoReconnect;
  if (m_socket <= 0) {
    Zelta_Print::message("called close without connection");
  } else {
    setStatus(eNetStatus_Closing);
    const int socket = m_socket;
    // Cleared before the close: the closed callback may reconnect at once and set a new socket.
    m_socket = 0;
    if (m_connection->closeConnection(socket) == kNetworkSuccess && m_status == eNetStatus_Closing)
      setStatus(eNetStatus_Closed);
    return 1;
  }
  m_socket = 0;
  return 1;
}

size_t Zelta_SourceAsyncNet::recvData(int socket, void* buffer, size_t capacity) {
  ZELTA_CHECK(externalRecv);
  size_t received = 0;
  const NetworkResult result = m_connection->receiveData(socket, static_cast<uint8_t*>(buffer), capacity, &received);
  if (result < kNetworkError) return received;
  Zelta_Print::message("Receive data reported an error, closing connection");
  cbNetworkError(socket, 0, "Failed to receive data", this);
  return 0;
}

eSendStatus Zelta_SourceAsyncNet::sendMessage(const char* data, size_t length) {
  if (!data) return eSend_NoData;
  if (m_status != eNetStatus_Open && m_status != eNetStatus_Connected) {
    Zelta_Print::message(concat("ERROR: connection status is ", m_status, ", cannot send data:\n",
                                std::string(data, strnlen(data, length))));
    return eSend_NotConnected;
  }
  size_t done = 0;
  int failures = 0;
  while (done < length) {
    ZELTA_CHECK(externalSend);
    int sent = 0;
    const NetworkResult result =
        m_connection->sendData(m_socket, reinterpret_cast<const uint8_t*>(data) + done, length - done, &sent);
    if (sent > 0) done += static_cast<size_t>(sent);
    if (done >= length) break;
    if (result == kNetworkSuccess && sent >= 0) continue;
    if (++failures > kMaxSendFailures) {
      Zelta_Print::message("Failed to send data, closing connection");
      cbNetworkError(m_socket, 0, "Failed to send data", this);
      return eSend_Failed;
    }
    Zelta_Print::message("Can't send query, retry");
    usleep(kSendRetryPauseUs);
  }
  return eSend_Ok;
}

void Zelta_SourceAsyncNet::async_network_loop(Zelta_SourceAsyncNet* source) {
  if (!source || source->m_connection->isSelfDriven() || source->m_status >= 5) return;
  switch (source->m_status) {
    case eNetStatus_Closed:
      ZELTA_TRACE(kTraceNetwork, "nop, connection closed");
      break;
    case eNetStatus_Closing:
      ZELTA_TRACE(kTraceNetwork, "socket closing, call onClose callback");
      source->handleClosed(source->m_socket);
      break;
    case eNetStatus_Opening:
      ZELTA_TRACE(kTraceNetwork, "socket connection is being created");
      source->setStatus(eNetStatus_Open);
      break;
    case eNetStatus_Open:
      ZELTA_TRACE(kTraceNetwork, "socket open, but no connection attempt so far");
      cbConnectionOpen(source->m_socket, source);
      break;
    case eNetStatus_Connected:
      cbRecvData(source->m_socket, source);
      break;
  }
}

void Zelta_SourceAsyncNet::cbConnectionOpen(int socket, void* user) {
  if (user) sourceOf(user)->handleConnectionOpen(socket);
}
void Zelta_SourceAsyncNet::cbRecvData(int socket, void* user) {
  if (user) sourceOf(user)->handleRecvData(socket);
}
void Zelta_SourceAsyncNet::cbNetworkError(int socket, int code, const char* message, void* user) {
  if (user) sourceOf(user)->handleNetworkError(socket, code, message);
}
void Zelta_SourceAsyncNet::cbConnectionClosed(int socket, void* user) {
  if (user) sourceOf(user)->handleClosed(socket);
}

void Zelta_SourceAsyncNet::errorRelay(int socket, int code, const char* message, void* user) {
  Zelta_Print::message(concat("f_callback_error called: ", code, " with msg: ", message ? message : ""));
  if (user) cbNetworkError(socket, code, message, user);
}

void Zelta_SourceAsyncNet::handleConnectionOpen(int socket) {
  const int fd = socket;
  ZELTA_CHECK(fd == getSocket());
  setStatus(eNetStatus_Open);
  onConnectionOpened();
  setStatus(eNetStatus_Connected);
}

void Zelta_SourceAsyncNet::handleRecvData(int socket) {
  const int fd = socket;
  ZELTA_CHECK(fd == getSocket());
  m_dataPending = true;
  onDataAvailable(socket);
}

void Zelta_SourceAsyncNet::handleNetworkError(int socket, int code, const char* message) {
  const int fd = socket;
  ZELTA_CHECK(fd == getSocket());
  m_dataPending = false;
  Zelta_Print::message(concat("Error ", code, " during network operation  ", message ? message : ""));
  onNetworkError(socket, code, message);
  // Closed refuses Error by the status rule; force it so the loop stays idle until reconnected.
  m_status = eNetStatus_Error;
  if (m_connectionState != 4) {
    m_connectionState = 4;
    m_connection->setConnectionState(4);
  }
}

void Zelta_SourceAsyncNet::handleClosed(int socket) {
  m_dataPending = false;
  onClosed(socket);
  Zelta_Print::message("setting status eNetStatus_Closed");
  setStatus(eNetStatus_Closed);
  if (m_autoReconnect) {
    Zelta_Print::message("auto reconnect active");
    connect_remote();
  }
}

}  // namespace Zelta
