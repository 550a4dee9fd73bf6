// The event stream's command side over a raw socket: commands cut anywhere, loudspeaker audio
// between them, and bad ones, each answered in order with its id.
#include "CamsimProcess.h"
#include "JpegCheck.h"
#include "StreamCapture.h"

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

// The APP12 messages at the start of the answer's body (whole ones only).
std::vector<Json> controlsIn(const std::string& bytes) {
  std::vector<Json> controls;
  const auto headEnd = bytes.find("\r\n\r\n");
  if (headEnd == std::string::npos) return controls;
  for (std::size_t at = headEnd + 4; at + 4 <= bytes.size() && bytes.compare(at, 2, "\xFF\xEC") == 0;) {
    const std::size_t length = bigEndian16(bytes, at + 2);
    if (at + 2 + length > bytes.size()) break;
    controls.push_back(Json::parse(bytes.substr(at + 4, length - 2)));
    at += 2 + length;
  }
  return controls;
}

TEST(CamsimEventStream, CommandsAreAnsweredInOrderWhateverTheirCuts) {
  CamsimProcess camsim({"--model", "VX-S10"});
  const std::string z(1, '\0');
  const std::string body = std::string("{\"method\":\"video_enable\",\"id\":2,\"params\":[false]}") + z +
                           segment('\xEB', std::string("ZLA\0", 4) + std::string(120, '\x11')) +
                           "{\"method\":\"bogus\",\"id\":3,\"params\":[]}" + z + "not json" + z +
                           "{\"method\":\"setThermalRaw\",\"id\":4,\"params\":[true]}" + z +
                           "{\"method\":\"live\",\"id\":5,\"params\":[]}" + z;
  // The head with the first command (pictures are off before the first one is due), then the
  // rest a few bytes at a time.
  const int fd = connectAndSend(camsim.httpPort(), "",
                                "POST /control/eventstream.jpg HTTP/1.0\r\nConnection: close\r\n\r\n" + body.substr(0, 52));
  ASSERT_GE(fd, 0);
  for (std::size_t at = 52; at < body.size(); at += 7) {
    const std::string piece = body.substr(at, 7);
    ASSERT_EQ(::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL), static_cast<ssize_t>(piece.size()));
  }
  std::string answer;
  std::vector<Json> controls;
  readUntil(fd, answer, [&] { return (controls = controlsIn(answer)).size() >= 6; }, std::chrono::seconds(10));
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
