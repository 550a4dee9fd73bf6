// The SDK's connection interface: opens a TCP connection, receives and sends bytes, closes, and
// tells the registered source (NetworkCallbacks) when the connection is ready, has data, was
// closed or failed. Callbacks run synchronously inside the calls that cause them (ready inside
// setupConnectionToRemoteHost, closed inside closeConnection), on the SDK's one thread.
// A replacement (for example one that adds TLS) derives from this class.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zelta {

enum NetworkResult : int { kNetworkSuccess = 0, kNetworkNothingReceived = 1, kNetworkError = 2 };

struct NetworkCallbacks {
  void (*connectionReady)(int socket, void* user) = nullptr;
  void (*dataAvailable)(int socket, void* user) = nullptr;
  void (*connectionClosed)(int socket, void* user) = nullptr;
  void (*networkError)(int socket, int code, const char* message, void* user) = nullptr;
  void* user = nullptr;
};

class Zelta_NetworkConnection {
 public:
  virtual ~Zelta_NetworkConnection() = default;

  // While true the source's loop step leaves the connection alone.
  virtual bool isSelfDriven() { return false; }
  virtual NetworkResult setupConnectionToRemoteHost(const char* host, int port, bool ssl, int* socketOut) {
    return kNetworkError;
  }
  // Waits briefly for data; kNetworkNothingReceived on time-out or orderly end of data.
  virtual NetworkResult receiveData(int socket, uint8_t* buffer, size_t capacity, size_t* received) {
    return kNetworkError;
  }
  virtual NetworkResult sendData(int socket, const uint8_t* data, size_t length, int* sent) { return kNetworkError; }
  virtual NetworkResult closeConnection(int socket) { return kNetworkError; }
  // Connection-level state: 0 closing, 1 closed, 2 opening, 3 open, 4 error.
  virtual void setConnectionState(int state);

  void setCallbacks(const NetworkCallbacks& callbacks);
  bool sendConnectionReady(int socket);
  bool sendDataAvailable(int socket);
  bool sendConnectionClosed(int socket);
  bool sendNetworkError(int socket, int code, const char* message);

 private:
  NetworkCallbacks m_callbacks;
};

}  // namespace Zelta
