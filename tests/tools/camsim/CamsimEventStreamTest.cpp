// The event stream's command side over a raw socket: commands cut anywhere, loudspeaker audio
// between them, and bad ones, each answered in order with its id.
#include "CamsimProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

std::string segment(char marker, const std::string& payload) {
  const std::size_t length = payload.size() + 2;
  return std::string{'\xFF', marker, static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} + payload;
}

// Reads the answer's APP12 messages until `count` arrived or the deadline passed; any other
// segment (a picture) ends the reading.
std::vector<Json> readControls(int fd, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string bytes;
  std::vector<Json> controls;
  std::size_t pos = std::string::npos;
  while (controls.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, 100) <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
    if (pos == std::string::npos) {
      const auto headEnd = bytes.find("\r\n\r\n");
      if (headEnd == std::string::npos) continue;
      pos = headEnd + 4;
    }
    while (pos + 4 <= bytes.size()) {
      if (bytes.compare(pos, 2, "\xFF\xEC") != 0) return controls;
      const std::size_t length =
          256u * static_cast<unsigned char>(bytes[pos + 2]) + static_cast<unsigned char>(bytes[pos + 3]);
      if (pos + 2 + length > bytes.size()) break;
      controls.push_back(Json::parse(bytes.substr(pos + 4, length - 2)));
      pos += 2 + length;
    }
  }
  return controls;
}

TEST(CamsimEventStream, CommandsAreAnsweredInOrderWhateverTheirCuts) {
  CamsimProcess camsim({"--model", "VX-S10"});
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(camsim.httpPort());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  const std::string z(1, '\0');
  const std::string body = std::string("{\"method\":\"video_enable\",\"id\":2,\"params\":[false]}") + z +
                           segment('\xEB', std::string("ZLA\0", 4) + std::string(120, '\x11')) +
                           "{\"method\":\"bogus\",\"id\":3,\"params\":[]}" + z + "not json" + z +
                           "{\"method\":\"setThermalRaw\",\"id\":4,\"params\":[true]}" + z +
                           "{\"method\":\"live\",\"id\":5,\"params\":[]}" + z;
  // The head with the first command (pictures are off before the first one is due), then the
  // rest a few bytes at a time.
  const std::string first = "POST /control/eventstream.jpg HTTP/1.0\r\nConnection: close\r\n\r\n" + body.substr(0, 52);
  ASSERT_EQ(::send(fd, first.data(), first.size(), MSG_NOSIGNAL), static_cast<ssize_t>(first.size()));
  for (std::size_t at = 52; at < body.size(); at += 7) {
    const std::string piece = body.substr(at, 7);
    ASSERT_EQ(::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL), static_cast<ssize_t>(piece.size()));
  }
  const std::vector<Json> controls = readControls(fd, 6);
  ::close(fd);
  ASSERT_EQ(controls.size(), 6u);
  EXPECT_EQ(controls[0], (Json{{"type", "eventstream"}, {"id", 0}, {"version", "1.0"}}));
  EXPECT_EQ(controls[1], (Json{{"id", 2}, {"result", "ok"}}));
  EXPECT_EQ(controls[2]["id"], 3);
  EXPECT_EQ(controls[2]["error"]["code"], -32601);
  EXPECT_FALSE(controls[3].contains("id"));
  EXPECT_EQ(controls[3]["error"]["code"], -32700);
  EXPECT_EQ(controls[4]["id"], 4);
  EXPECT_EQ(controls[4]["error"]["message"], "no thermal sensor");
  EXPECT_EQ(controls[5], (Json{{"id", 5}, {"result", "ok"}}));
  EXPECT_EQ(camsim.requestTargets(), std::vector<std::string>{"/control/eventstream.jpg"});
  EXPECT_EQ(camsim.stop(), 0);
}

}  // namespace
