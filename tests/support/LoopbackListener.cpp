#include "LoopbackListener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <utility>

LoopbackListener::LoopbackListener(const char* who) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error(std::string(who) + ": socket() failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 16) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listenFd_);
    throw std::runtime_error(std::string(who) + ": cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
    ::close(listenFd_);
    throw std::runtime_error(std::string(who) + ": pipe2 failed");
  }
}

LoopbackListener::~LoopbackListener() {
  stop();
  ::close(listenFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
}

void LoopbackListener::start(std::function<void()> peer) { thread_ = std::thread(std::move(peer)); }

void LoopbackListener::stop() {
  if (!thread_.joinable()) return;
  const char wake = 1;
  (void)!::write(wakeFds_[1], &wake, 1);
  thread_.join();
}
