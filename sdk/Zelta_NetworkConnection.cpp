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

namespace {

// Runs a registered callback, or says which notifier had none.
template <typename Callback, typename... Args>
bool invoke(Callback callback, const char* notifier, const char* what, Args... args) {
  if (!callback) {
    Zelta_Print::message(concat(notifier, " callback not available"));
    return false;
  }
  ZELTA_TRACE(kTraceNetwork, "invoking ", what, " callback");
  callback(args...);
  return true;
}

}  // namespace

bool Zelta_NetworkConnection::sendConnectionReady(int socket) {
  return invoke(m_callbacks.connectionReady, "sendConnectionReady", "connection ready", socket, m_callbacks.user);
}

bool Zelta_NetworkConnection::sendDataAvailable(int socket) {
  return invoke(m_callbacks.dataAvailable, "sendDataAvailable", "data available", socket, m_callbacks.user);
}

bool Zelta_NetworkConnection::sendConnectionClosed(int socket) {
  return invoke(m_callbacks.connectionClosed, "sendConnectionClosed", "connection closed", socket, m_callbacks.user);
}

bool Zelta_NetworkConnection::sendNetworkError(int socket, int code, const char* message) {
  return invoke(m_callbacks.networkError, "sendNetworkError", "network error", socket, code, message, m_callbacks.user);
}

}  // namespace Zelta
