// What a scripted peer listens and runs with: a TCP socket on 127.0.0.1 at an ephemeral port, the
// peer's thread accepting connections one after another, and a wake pipe that stop() writes to so
// that every wait of that thread ends promptly.
// Contract: built, started, stopped and destroyed on the test thread; the peer calls stop() in
// its own destructor, before its members go (the destructor here stops too, as a last resort).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

class LoopbackListener {
 public:
  // Throws std::runtime_error naming `who` when the socket or the pipe cannot be had.
  explicit LoopbackListener(const char* who);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  std::uint16_t port() const { return port_; }
  // The read end of the wake pipe: readable once stop() was called.
  int wakeFd() const { return wakeFds_[0]; }

  // Runs `serve` on the peer's thread for each accepted connection, which is closed after it.
  void start(std::function<void(int connection)> serve);
  // Wakes the peer's thread and joins it; does nothing when it is not running.
  void stop();
  // Waits until fd is ready for `events`: 1 ready, 0 when `timeoutMs` (-1: none) passed, -1 once
  // stop() was called.
  int wait(int fd, short events, int timeoutMs) const;
  // Sends all of `bytes`; false when the client is gone or stop() was called.
  bool sendAll(int fd, const std::string& bytes) const;

 private:
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::thread thread_;
};
