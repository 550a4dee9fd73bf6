#include "RawPeer.h"

#include "LoopbackListener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

RawPeer::RawPeer(std::vector<Step> script) : RawPeer(Chooser([script](const std::string&) { return script; })) {}

RawPeer::RawPeer(Chooser chooser) : chooser_(std::move(chooser)) {
  listener_.start([this] { run(); });
}

RawPeer::~RawPeer() { stop(); }

void RawPeer::stop() { listener_.stop(); }

std::vector<std::string> RawPeer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::string RawPeer::lastRequest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.empty() ? std::string() : requests_.back();
}

std::size_t RawPeer::connectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

bool RawPeer::waitForConnections(std::size_t count, std::chrono::milliseconds deadline) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, deadline, [&] { return connections_ >= count; });
}

// Waits until fd is ready for events; false when stop() was called or the timeout (-1: none)
// passed.
bool RawPeer::waitFor(int fd, short events, int timeoutMs) const {
  pollfd entries[2] = {{fd, events, 0}, {listener_.wakeFd(), POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(entries, 2, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (entries[1].revents & POLLIN)) return false;
    return true;
  }
}

void RawPeer::run() {
  while (waitFor(listener_.listenFd(), POLLIN, -1)) {
    const int connection = ::accept4(listener_.listenFd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++connections_;
    }
    changed_.notify_all();
    serve(connection);
    ::close(connection);
  }
}

void RawPeer::serve(int connection) {
  std::string head = readHead(connection);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(head));
  }
  changed_.notify_all();
  for (const Step& step : chooser_(lastRequest())) {
    if (!play(connection, step)) return;
  }
}

std::string RawPeer::readHead(int connection) {
  std::string head;
  char chunk[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHead) {
    if (!waitFor(connection, POLLIN, -1)) break;
    const ssize_t n = ::recv(connection, chunk, std::min(sizeof chunk, kMaxHead - head.size()), 0);
    if (n <= 0) break;
    head.append(chunk, static_cast<std::size_t>(n));
  }
  return head;
}

// Returns false when the connection is finished (closed, client gone or stopping).
bool RawPeer::play(int connection, const Step& step) {
  switch (step.kind) {
    case Step::Kind::Send: {
      std::size_t sent = 0;
      while (sent < step.bytes.size()) {
        if (!waitFor(connection, POLLOUT, -1)) return false;
        const ssize_t n =
            ::send(connection, step.bytes.data() + sent, step.bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
      }
      return true;
    }
    case Step::Kind::Pause: {
      const auto until = Clock::now() + step.pause;
      // Only the stop pipe is watched, so client bytes do not cut the pause short.
      while (Clock::now() < until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        pollfd wake{listener_.wakeFd(), POLLIN, 0};
        if (::poll(&wake, 1, static_cast<int>(left.count()) + 1) > 0) return false;
      }
      return true;
    }
    case Step::Kind::Close:
      return false;
    case Step::Kind::StallUntilStopped: {
      // Silent until stop() or until the client is gone; what the client still sends is ignored.
      char ignored[4096];
      for (;;) {
        pollfd fds[2] = {{listener_.wakeFd(), POLLIN, 0}, {connection, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
          if (errno == EINTR) continue;
          return false;
        }
        if (fds[0].revents != 0) return false;
        if (fds[1].revents != 0 && ::recv(connection, ignored, sizeof ignored, 0) <= 0) return false;
      }
    }
  }
  return false;
}
