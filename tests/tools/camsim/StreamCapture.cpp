#include "StreamCapture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMaxPartHead = 1024;

enum class Parse { Done, NeedMore, Broken };

// Parses the head and up to `wanted` whole parts from the bytes received so far.
Parse parseParts(const std::string& bytes, std::size_t wanted, StreamCapture& capture) {
  const auto headEnd = bytes.find("\r\n\r\n");
  if (headEnd == std::string::npos) return Parse::NeedMore;
  capture.head = bytes.substr(0, headEnd + 2);
  capture.pictures.clear();
  std::size_t at = headEnd + 4;
  const std::string boundary = kStreamBoundaryLine;
  if (bytes.size() < at + boundary.size()) return Parse::NeedMore;
  if (bytes.compare(at, boundary.size(), boundary) != 0) {
    capture.error = "stream does not start with the boundary line";
    return Parse::Broken;
  }
  at += boundary.size();
  while (capture.pictures.size() < wanted) {
    const auto partHeadEnd = bytes.find("\r\n\r\n", at);
    if (partHeadEnd == std::string::npos) {
      if (bytes.size() - at > kMaxPartHead) {
        capture.error = "part head too long";
        return Parse::Broken;
      }
      return Parse::NeedMore;
    }
    const std::string partHead = bytes.substr(at, partHeadEnd - at);
    if (partHead.compare(0, 25, "Content-Type: image/jpeg\r") != 0) {
      capture.error = "part head without Content-Type: " + partHead.substr(0, 80);
      return Parse::Broken;
    }
    const auto lengthAt = partHead.find("Content-Length: ");
    if (lengthAt == std::string::npos) {
      capture.error = "part head without Content-Length";
      return Parse::Broken;
    }
    const std::size_t length = std::strtoul(partHead.c_str() + lengthAt + 16, nullptr, 10);
    const std::size_t bodyAt = partHeadEnd + 4;
    const std::string trailer = "\r\n" + boundary;
    if (bytes.size() < bodyAt + length + trailer.size()) return Parse::NeedMore;
    if (bytes.compare(bodyAt + length, trailer.size(), trailer) != 0) {
      capture.error = "part not followed by CRLF and the boundary line";
      return Parse::Broken;
    }
    capture.pictures.push_back(bytes.substr(bodyAt, length));
    at = bodyAt + length + trailer.size();
  }
  return Parse::Done;
}

// Connects to 127.0.0.1:port and sends a GET of target; -1 when nothing listens.
int sendRequest(std::uint16_t port, const std::string& target, const std::string& extraHeaders) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
  (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return fd;
}

}  // namespace

StreamCapture captureStream(std::uint16_t port, const std::string& target, std::size_t parts,
                            const std::string& extraHeaders, std::chrono::milliseconds deadline) {
  StreamCapture capture;
  const int fd = sendRequest(port, target, extraHeaders);
  if (fd < 0) {
    capture.error = "cannot connect";
    return capture;
  }
  const auto until = Clock::now() + deadline;
  std::string bytes;
  char chunk[65536];
  for (;;) {
    const Parse state = parseParts(bytes, parts, capture);
    if (state != Parse::NeedMore) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, left < 0 ? 0 : static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      capture.error = "deadline passed after " + std::to_string(capture.pictures.size()) + " parts";
      break;
    }
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      capture.closedByServer = true;
      break;
    }
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return capture;
}

OpenStream::OpenStream(std::uint16_t port, const std::string& target) : fd_(sendRequest(port, target, "")) {
  if (fd_ < 0) return;
  pollfd entry{fd_, POLLIN, 0};
  char chunk[4096];
  const ssize_t n = ::poll(&entry, 1, 10000) > 0 ? ::recv(fd_, chunk, sizeof chunk, 0) : 0;
  if (n > 0) firstBytes_.assign(chunk, static_cast<std::size_t>(n));
}

OpenStream::~OpenStream() {
  if (fd_ >= 0) ::close(fd_);
}
