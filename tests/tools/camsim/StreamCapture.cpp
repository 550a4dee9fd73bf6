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
// bytes are needed (true also when the layout broke: then capture.error says how).
bool parseParts(const std::string& bytes, std::size_t wanted, StreamCapture& capture) {
  const auto broken = [&](const std::string& reason) { return capture.error = reason, true; };
  const auto headEnd = bytes.find("\r\n\r\n");
  if (headEnd == std::string::npos) return false;
  capture.head = bytes.substr(0, headEnd + 2);
  capture.pictures.clear();
  std::size_t at = headEnd + 4;
  if (bytes.size() < at + kBoundaryLine.size()) return false;
  if (bytes.compare(at, kBoundaryLine.size(), kBoundaryLine) != 0)
    return broken("stream does not start with the boundary line");
  at += kBoundaryLine.size();
  const std::string trailer = "\r\n" + kBoundaryLine;
  while (capture.pictures.size() < wanted) {
    const auto partHeadEnd = bytes.find("\r\n\r\n", at);
    if (partHeadEnd == std::string::npos) return bytes.size() - at > kMaxPartHead && broken("part head too long");
    const std::string partHead = bytes.substr(at, partHeadEnd - at);
    const auto lengthAt = partHead.find("Content-Length: ");
    if (partHead.rfind("Content-Type: image/jpeg\r", 0) != 0 || lengthAt == std::string::npos)
      return broken("part head without Content-Type or Content-Length: " + partHead.substr(0, 80));
    const std::size_t length = std::strtoul(partHead.c_str() + lengthAt + 16, nullptr, 10);
    const std::size_t bodyAt = partHeadEnd + 4;
    if (bytes.size() < bodyAt + length + trailer.size()) return false;
    if (bytes.compare(bodyAt + length, trailer.size(), trailer) != 0)
      return broken("part not followed by CRLF and the boundary line");
    capture.pictures.push_back(bytes.substr(bodyAt, length));
    at = bodyAt + length + trailer.size();
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
  const ReadEnd end = readUntil(fd, bytes, [&] { return parseParts(bytes, parts, capture); }, deadline);
  capture.closedByServer = end == ReadEnd::Closed;
  if (end == ReadEnd::Deadline) capture.error = "deadline passed after " + std::to_string(capture.pictures.size()) + " parts";
  ::close(fd);
  return capture;
}

OpenStream::OpenStream(std::uint16_t port, const std::string& target) : fd_(connectAndSend(port, target)) {
  if (fd_ >= 0) readUntil(fd_, firstBytes_, [&] { return !firstBytes_.empty(); }, std::chrono::seconds(10));
}

OpenStream::~OpenStream() {
  if (fd_ >= 0) ::close(fd_);
}
