// What a scripted peer listens with: a TCP socket on 127.0.0.1 at an ephemeral port, and a wake
// pipe that stop() writes to so that every wait of the peer's thread ends promptly.
// Contract: built and destroyed on the test thread (after the peer's thread was joined); wake()
// from any thread.
#pragma once

#include <cstdint>

class LoopbackListener {
 public:
  // Throws std::runtime_error naming `who` when the socket or the pipe cannot be had.
  explicit LoopbackListener(const char* who);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  int listenFd() const { return listenFd_; }
  std::uint16_t port() const { return port_; }
  // The read end of the wake pipe: readable once wake() was called.
  int wakeFd() const { return wakeFds_[0]; }
  void wake() const;

 private:
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  std::uint16_t port_ = 0;
};
