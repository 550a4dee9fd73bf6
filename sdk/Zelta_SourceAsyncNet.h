// A network source driven one step at a time by the SDK's processing loop: it owns the socket of
// one connection, keeps the network status machine (Closed, Closing, Opening, Open, Connected,
// Error), receives the connection's callbacks and hands them to its subclass hooks.
// Single-threaded: every call, callback and hook runs on the thread that runs the loop step.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Zelta_NetworkConnection.h"

namespace Zelta {

enum NetStatus : int {
  eNetStatus_Closed = 0,
  eNetStatus_Closing = 1,
  eNetStatus_Opening = 2,
  eNetStatus_Open = 3,
  eNetStatus_Connected = 4,
  eNetStatus_Error = 6,
};

enum eSendStatus : int { eSend_Ok = 1, eSend_Failed = -1, eSend_NotConnected = -3, eSend_NoData = -4 };

class Zelta_SourceAsyncNet {
 public:
  // Failed sends of one message before the connection is given up.
  static constexpr int kMaxSendFailures = 5;
  static constexpr int kSendRetryPauseUs = 25000;

  explicit Zelta_SourceAsyncNet(std::shared_ptr<Zelta_NetworkConnection> connection);
  virtual ~Zelta_SourceAsyncNet();
  Zelta_SourceAsyncNet(const Zelta_SourceAsyncNet&) = delete;
  Zelta_SourceAsyncNet& operator=(const Zelta_SourceAsyncNet&) = delete;

  void setHost(const char* host);
  // A fresh malloc'd copy the caller frees (null when no host is set).
  char* getHost() const;
  void setPort(int port) { m_port = port; }
  int getPort() const { return m_port; }
  void setSecure(bool secure) { m_secure = secure; }
  bool getSecure() const { return m_secure; }
  int getSocket() const { return m_socket; }
  int getStatus() const { return m_status; }
  bool dataPending() const { return m_dataPending; }

  // 1 when a socket was obtained, else -1 (the status is then Error).
  int connect_remote();
  int close_remote(bool autoReconnect);
  size_t recvData(int socket, void* buffer, size_t capacity);
  eSendStatus sendMessage(const char* data, size_t length);

  // One step of the status machine.
  static void async_network_loop(Zelta_SourceAsyncNet* source);

  static void cbConnectionOpen(int socket, void* user);
  static void cbRecvData(int socket, void* user);
  static void cbNetworkError(int socket, int code, const char* message, void* user);
  static void cbConnectionClosed(int socket, void* user);

 protected:
  virtual void onConnectionOpened() {}
  virtual void onDataAvailable(int socket) {}
  virtual void onClosed(int socket) {}
  virtual void onNetworkError(int socket, int code, const char* message) { close_remote(false); }

  // Applies the status rule (Closed may only become Opening or Open) and tells the connection.
  void setStatus(int status);
  Zelta_NetworkConnection& connection() { return *m_connection; }

 private:
  static void errorRelay(int socket, int code, const char* message, void* user);
  void handleConnectionOpen(int socket);
  void handleRecvData(int socket);
  void handleNetworkError(int socket, int code, const char* message);
  void handleClosed(int socket);

  std::shared_ptr<Zelta_NetworkConnection> m_connection;
  bool m_dataPending = false;
  char* m_host = nullptr;
  int m_port = 0;
  bool m_secure = false;
  int m_socket = 0;
  int m_status = eNetStatus_Closed;
  bool m_autoReconnect = false;
  bool externalRecv = false;
  bool externalSend = false;
  bool externalConnect = false;
  bool externalClose = false;
  int m_connectionState = 4;
};

}  // namespace Zelta
