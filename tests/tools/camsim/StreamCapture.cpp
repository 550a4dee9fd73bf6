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
const std::string kBoundaryLine = "--VANTREL_Fast_Serverpush\r\n";

// Parses the head and up to `wanted` whole parts of the bytes received so far; false while more
// bytes are needed. Each part is the boundary line, "Content-Type: image/jpeg", its Content-Length,
// a blank line, the picture and CRLF; anything else ends the parsing with capture.error set.
bool parseParts(const std::string& bytes, std::size_t wanted, StreamCapture& capture) {
  const auto headEnd = bytes.find("\r\n\r\n");
  if (headEnd == std::string::npos) return false;
  capture.head = bytes.substr(0, headEnd + 2);
  capture.pictures.clear();
  const std::string start = kBoundaryLine + "Content-Type: image/jpeg\r\nContent-Length: ";
  for (std::size_t at = headEnd + 4; capture.pictures.size() < wanted;) {
    const auto broken = [&] {
      return capture.error = "part " + std::to_string(capture.pictures.size() + 1) + " is not well formed", true;
    };
    const std::size_t known = std::min(start.size(), bytes.size() - at);
    const auto bodyAt = bytes.find("\r\n\r\n", at);
    if (bytes.compare(at, known, start, 0, known) != 0) return broken();
    if (bodyAt == std::string::npos) return bytes.size() - at > kMaxPartHead && broken();
    const std::string length = bytes.substr(at + start.size(), bodyAt - at - start.size());
    const std::size_t size = std::strtoul(length.c_str(), nullptr, 10);
    if (length.empty() || length != std::to_string(size)) return broken();
    if (bytes.size() < bodyAt + 4 + size + 2) return false;
    if (bytes.compare(bodyAt + 4 + size, 2, "\r\n") != 0) return broken();
    capture.pictures.push_back(bytes.substr(bodyAt + 4, size));
    at = bodyAt + 4 + size + 2;
  }
  return true;
}

}  // namespace

int connectAndSend(std::uint16_t port, const std::string& target, const std::string& head) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  const std::string request = head.empty() ? "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" : head;
  (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return fd;
}

ReadEnd readUntil(int fd, std::string& bytes, const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  char chunk[65536];
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, left < 0 ? 0 : static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return ReadEnd::Deadline;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ReadEnd::Closed;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return ReadEnd::Done;
}

StreamCapture captureStream(std::uint16_t port, const std::string& target, std::size_t parts,
                            std::chrono::milliseconds deadline) {
  StreamCapture capture;
  const int fd = connectAndSend(port, target);
  if (fd < 0) return capture.error = "cannot connect", capture;
  std::string bytes;
  const ReadEnd end = readUntil(
      fd, bytes, [&] { return parseParts(bytes, parts, capture); }, deadline);
  capture.closedByServer = end == ReadEnd::Closed;
  if (end == ReadEnd::Deadline)
    capture.error = "deadline passed after " + std::to_string(capture.pictures.size()) + " parts";
  ::close(fd);
  return capture;
}

OpenStream::OpenStream(std::uint16_t port, const std::string& target) : fd_(connectAndSend(port, target)) {
  if (fd_ >= 0)
    readUntil(
        fd_, firstBytes_, [&] { return !firstBytes_.empty(); }, std::chrono::seconds(10));
}

OpenStream::~OpenStream() {
  if (fd_ >= 0) ::close(fd_);
}
