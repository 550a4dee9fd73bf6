#include "RawPeer.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

RawPeer::RawPeer(std::vector<Step> script) : RawPeer(Chooser([script](const std::string&) { return script; })) {}

RawPeer::RawPeer(Chooser chooser) : chooser_(std::move(chooser)) {
  listener_.start([this](int connection) { serve(connection); });
}

std::string RawPeer::lastRequest() const {
  const auto heads = requests();
  return heads.empty() ? std::string() : heads.back();
}

void RawPeer::serve(int connection) {
  record([&] { ++connections_; });
  const std::string head = readHead(connection);
  record([&] { requests_.push_back(head); });
  for (const Step& step : chooser_(head))
    if (!play(connection, step)) return;
}

std::string RawPeer::readHead(int connection) {
  std::string head;
  char chunk[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHead) {
    if (listener_.wait(connection, POLLIN, -1) != 1) break;
    const ssize_t n = ::recv(connection, chunk, std::min(sizeof chunk, kMaxHead - head.size()), 0);
    if (n <= 0) break;
    head.append(chunk, static_cast<std::size_t>(n));
  }
  return head;
}

// Returns false when the connection is finished (closed, client gone or stopping).
bool RawPeer::play(int connection, const Step& step) {
  switch (step.kind) {
    case Step::Kind::Send:
      return listener_.sendAll(connection, step.bytes);
    case Step::Kind::Pause:  // only the stop pipe cuts it short, not the client's bytes
      return listener_.wait(listener_.wakeFd(), POLLIN, static_cast<int>(step.pause.count())) == 0;
    case Step::Kind::Close:
      return false;
    case Step::Kind::StallUntilStopped: {
      // Silent until stop() or until the client is gone; what the client still sends is ignored.
      char ignored[4096];
      while (listener_.wait(connection, POLLIN, -1) == 1 && ::recv(connection, ignored, sizeof ignored, 0) > 0) {
      }
      return false;
    }
  }
  return false;
}
