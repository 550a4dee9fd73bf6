#include "LoopbackListener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <utility>

LoopbackListener::LoopbackListener(const char* who) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::pipe2(wakeFds_, O_CLOEXEC) != 0) {
    if (listenFd_ >= 0) ::close(listenFd_);
    throw std::runtime_error(std::string(who) + ": cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() {
  stop();
  ::close(listenFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
}

void LoopbackListener::start(std::function<void(int connection)> serve) {
  thread_ = std::thread([this, serve = std::move(serve)] {
    while (wait(listenFd_, POLLIN, -1) == 1) {
      const int connection = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      serve(connection);
      ::close(connection);
    }
  });
}

int LoopbackListener::wait(int fd, short events, int timeoutMs) const {
  pollfd entries[2] = {{fd, events, 0}, {wakeFds_[0], POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(entries, 2, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (entries[1].revents & POLLIN)) return -1;
    return ready == 0 ? 0 : 1;
  }
}

bool LoopbackListener::sendAll(int fd, const std::string& bytes) const {
  for (size_t sent = 0; sent < bytes.size();) {
    if (wait(fd, POLLOUT, -1) != 1) return false;
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void LoopbackListener::stop() {
  if (!thread_.joinable()) return;
  const char wake = 1;
  (void)!::write(wakeFds_[1], &wake, 1);
  thread_.join();
}
