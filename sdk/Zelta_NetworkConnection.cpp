#include "Zelta_NetworkConnection.h"

#include "Zelta_Print.h"

namespace Zelta {

void Zelta_NetworkConnection::setConnectionState(int state) {
  if (state == 4) Zelta_Print::message("connection error");
}

void Zelta_NetworkConnection::setCallbacks(const NetworkCallbacks& callbacks) {
  ZELTA_TRACE(kTraceNetwork, "Registering callbacks");
  m_callbacks = callbacks;
}

bool Zelta_NetworkConnection::sendConnectionReady(int socket) {
  if (!m_callbacks.connectionReady) {
    Zelta_Print::message("sendConnectionReady callback not available");
    return false;
  }
  ZELTA_TRACE(kTraceNetwork, "invoking connection ready callback");
  m_callbacks.connectionReady(socket, m_callbacks.user);
  return true;
}

bool Zelta_NetworkConnection::sendDataAvailable(int socket) {
  if (!m_callbacks.dataAvailable) {
    Zelta_Print::message("sendDataAvailable callback not available");
    return false;
  }
  ZELTA_TRACE(kTraceNetwork, "invoking data available callback");
  m_callbacks.dataAvailable(socket, m_callbacks.user);
  return true;
}

bool Zelta_NetworkConnection::sendConnectionClosed(int socket) {
  if (!m_callbacks.connectionClosed) {
    Zelta_Print::message("sendConnectionClosed callback not available");
    return false;
  }
  ZELTA_TRACE(kTraceNetwork, "invoking connection closed callback");
  m_callbacks.connectionClosed(socket, m_callbacks.user);
  return true;
}

bool Zelta_NetworkConnection::sendNetworkError(int socket, int code, const char* message) {
  if (!m_callbacks.networkError) {
    Zelta_Print::message("sendNetworkError callback not available");
    return false;
  }
  ZELTA_TRACE(kTraceNetwork, "invoking network error callback");
  m_callbacks.networkError(socket, code, message, m_callbacks.user);
  return true;
}

}  // namespace Zelta
