#include "RtspPeer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <boost/algorithm/hex.hpp>

#include <algorithm>
#include <regex>

namespace rtsptest {

namespace {

using Clock = std::chrono::steady_clock;
const char* const kRealm = "camera";
const char* const kNonce = "5f1e2d3c4b5a69788796a5b4c3d2e1f0";

std::string md5(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
  return boost::algorithm::hex_lower(std::string(reinterpret_cast<const char*>(digest), size));
}

std::string base64(const std::string& text) {
  std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

// The first group of `pattern` in `text`; "" when it does not match.
std::string match(const std::string& text, const std::string& pattern) {
  std::smatch found;
  return std::regex_search(text, found, std::regex(pattern)) ? found[1].str() : std::string();
}

std::string bigEndian16(size_t value) {
  return {static_cast<char>((value >> 8) & 0xff), static_cast<char>(value & 0xff)};
}

size_t countIn(const std::vector<std::string>& heads, const std::string& method) {
  return std::count_if(heads.begin(), heads.end(),
                       [&](const std::string& head) { return head.rfind(method + " ", 0) == 0; });
}

}  // namespace

std::string rtpPacket(uint16_t sequence, uint32_t timestamp, bool marker, const std::string& payload) {
  const std::string ssrc("\x12\0\0\0", 4);
  return std::string{'\x80', static_cast<char>((marker ? 0x80 : 0) | 96)} + bigEndian16(sequence) +
         bigEndian16(timestamp >> 16) + bigEndian16(timestamp) + ssrc + payload;
}

std::vector<std::string> fuA(const std::string& nal, size_t fragmentSize) {
  std::vector<std::string> pieces;
  const uint8_t header = static_cast<uint8_t>(nal[0]);
  for (size_t at = 1; at < nal.size(); at += fragmentSize) {
    const int startEnd = (at == 1 ? 0x80 : 0) | (at + fragmentSize >= nal.size() ? 0x40 : 0);
    pieces.push_back(
        std::string{static_cast<char>((header & 0xe0) | 28), static_cast<char>(startEnd | (header & 0x1f))} +
        nal.substr(at, fragmentSize));
  }
  return pieces;
}

std::string stapA(const std::vector<std::string>& nals) {
  std::string payload(1, static_cast<char>(0x78));  // NRI 3, type 24
  for (const std::string& unit : nals) payload += bigEndian16(unit.size()) + unit;
  return payload;
}

std::string nal(uint8_t type, size_t size) {
  std::string unit(1, static_cast<char>(0x60 | type));
  // No two stretches of a unit up to 250,000 bytes alike: fragments joined out of order show.
  for (size_t i = 0; i < size; ++i) unit += static_cast<char>(1 + (i * 131 + i / 997) % 253);
  return unit;
}

std::vector<std::string> unitPayloads(bool key, size_t keySize) {
  if (!key) return {nal(1, 300)};
  std::vector<std::string> payloads = {stapA({nal(7, 10), nal(8, 4)})};
  for (const std::string& piece : fuA(nal(5, keySize), 1400)) payloads.push_back(piece);
  return payloads;
}

RtspPeer::RtspPeer(Script script) : script_(std::move(script)) {
  listener_.start([this](int connection) { serve(connection); });
}

size_t RtspPeer::countOf(const std::string& method) const { return countIn(requests(), method); }

bool RtspPeer::waitForRequests(const std::string& method, size_t count, std::chrono::milliseconds deadline) const {
  return waitUntil([&] { return countIn(requests_, method) >= count; }, deadline);
}

void RtspPeer::serve(int connection) {
  record([&] { ++connections_; });
  std::string input;
  bool playing = false;
  size_t nextPacket = 0;
  auto nextSend = Clock::now();
  for (;;) {
    const bool sending = playing && nextPacket < script_.packets.size();
    const auto untilNext = std::chrono::duration_cast<std::chrono::milliseconds>(nextSend - Clock::now()).count();
    const int ready =
        listener_.wait(connection, POLLIN, sending ? static_cast<int>(std::max<long long>(0, untilNext)) : -1);
    if (ready < 0) return;
    if (ready == 0) {  // time for the next packet, interleaved on channel 0
      const std::string& packet = script_.packets[nextPacket++];
      if (!listener_.sendAll(connection, std::string{'$', '\0'} + bigEndian16(packet.size()) + packet)) return;
      nextSend += script_.pace;
      continue;
    }
    char chunk[4096];
    const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
    if (n <= 0) return;
    input.append(chunk, static_cast<size_t>(n));
    for (size_t end; (end = input.find("\r\n\r\n")) != std::string::npos;) {
      const std::string head = input.substr(0, end + 4);
      input.erase(0, end + 4);
      record([&] { requests_.push_back(head); });
      bool close = false;
      if (!listener_.sendAll(connection, answerFor(head, playing, close)) || close) return;
    }
    if (playing && nextPacket == 0) nextSend = Clock::now();
  }
}

bool RtspPeer::authorised(const std::string& head, const std::string& method) const {
  const std::string header = match(head, "\r\nAuthorization: ([^\r]*)");
  if (script_.auth == Auth::Basic) return header == "Basic " + base64(script_.user + ":" + script_.password);
  if (header.rfind("Digest ", 0) != 0) return false;
  const auto param = [&](const std::string& name) { return match(header, " " + name + "=\"?([^\",]*)"); };
  const std::string ha1 = md5(script_.user + ":" + kRealm + ":" + script_.password);
  const std::string ha2 = md5(method + ":" + param("uri"));
  const std::string expected =
      param("qop") == "auth" ? md5(ha1 + ":" + kNonce + ":" + param("nc") + ":" + param("cnonce") + ":auth:" + ha2)
                             : md5(ha1 + ":" + kNonce + ":" + ha2);
  return param("username") == script_.user && param("response") == expected;
}

std::string RtspPeer::answerFor(const std::string& head, bool& playing, bool& close) {
  const std::string method = head.substr(0, head.find(' '));
  const std::string uri = match(head, "^\\S+ (\\S+)");
  const std::string cseq = "CSeq: " + match(head, "\r\nCSeq: ([^\r]*)") + "\r\n";
  if (script_.auth != Auth::None && !authorised(head, method)) {
    const std::string challenge =
        script_.auth == Auth::Basic
            ? std::string("Basic realm=\"") + kRealm + "\""
            : std::string("Digest realm=\"") + kRealm + "\", nonce=\"" + kNonce + "\", qop=\"auth\", algorithm=MD5";
    return "RTSP/1.0 401 Unauthorized\r\n" + cseq + "WWW-Authenticate: " + challenge + "\r\n\r\n";
  }
  const std::string session = "Session: 4711;timeout=" + std::to_string(script_.sessionTimeoutSeconds) + "\r\n";
  if (method == "OPTIONS")
    return "RTSP/1.0 200 OK\r\n" + cseq + "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER\r\n\r\n";
  if (method == "DESCRIBE") {
    if (script_.describeStatus.rfind("200", 0) != 0)
      return "RTSP/1.0 " + script_.describeStatus + "\r\n" + cseq + "Location: rtsp://10.0.0.9/elsewhere\r\n\r\n";
    std::string fmtp = "a=fmtp:96 packetization-mode=1";
    if (!script_.sprop.empty()) fmtp += ";sprop-parameter-sets=" + script_.sprop;
    const std::string sdp =
        "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=peer\r\nt=0 0\r\na=control:*\r\n"
        "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n" +
        fmtp + "\r\na=control:track1\r\n";
    return "RTSP/1.0 200 OK\r\n" + cseq + "Content-Base: " + uri + "/\r\nContent-Type: application/sdp\r\n" +
           "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
  }
  if (method == "SETUP")
    return "RTSP/1.0 200 OK\r\n" + cseq + session + "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n";
  playing = playing || method == "PLAY";
  close = method == "TEARDOWN";
  return "RTSP/1.0 200 OK\r\n" + cseq + session + "\r\n";
}

}  // namespace rtsptest
