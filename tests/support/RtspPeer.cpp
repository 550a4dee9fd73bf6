#include "RtspPeer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>

namespace rtsptest {

namespace {

using Clock = std::chrono::steady_clock;
const char* const kRealm = "camera";
const char* const kNonce = "5f1e2d3c4b5a69788796a5b4c3d2e1f0";

std::string md5(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) hex += {kDigits[digest[i] >> 4], kDigits[digest[i] & 15]};
  return hex;
}

std::string base64(const std::string& text) {
  std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

// The value of header `name` in a request head ("" when absent).
std::string headerOf(const std::string& head, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  const size_t at = head.find(key);
  if (at == std::string::npos) return {};
  const size_t begin = at + key.size();
  return head.substr(begin, head.find("\r\n", begin) - begin);
}

// A quoted parameter of a Digest header.
std::string digestParam(const std::string& header, const std::string& name) {
  const size_t at = header.find(name + "=\"");
  if (at == std::string::npos) return {};
  const size_t begin = at + name.size() + 2;
  return header.substr(begin, header.find('"', begin) - begin);
}

std::string digestItem(const std::string& header, const std::string& name) {
  const size_t at = header.find(" " + name + "=");
  if (at == std::string::npos) return {};
  const size_t begin = at + name.size() + 2;
  return header.substr(begin, header.find_first_of(",\r", begin) - begin);
}

}  // namespace

std::string rtpPacket(uint16_t sequence, uint32_t timestamp, bool marker, const std::string& payload) {
  std::string packet(12, '\0');
  packet[0] = static_cast<char>(0x80);
  packet[1] = static_cast<char>((marker ? 0x80 : 0) | 96);
  packet[2] = static_cast<char>(sequence >> 8);
  packet[3] = static_cast<char>(sequence & 0xff);
  for (int i = 0; i < 4; ++i) packet[4 + i] = static_cast<char>(timestamp >> (24 - 8 * i));
  packet[8] = 0x12;  // SSRC
  return packet + payload;
}

std::vector<std::string> fuA(const std::string& nal, size_t fragmentSize) {
  std::vector<std::string> pieces;
  const uint8_t header = static_cast<uint8_t>(nal[0]);
  for (size_t at = 1; at < nal.size(); at += fragmentSize) {
    const bool start = at == 1;
    const bool end = at + fragmentSize >= nal.size();
    std::string piece;
    piece += static_cast<char>((header & 0xe0) | 28);
    piece += static_cast<char>((start ? 0x80 : 0) | (end ? 0x40 : 0) | (header & 0x1f));
    piece += nal.substr(at, fragmentSize);
    pieces.push_back(piece);
  }
  return pieces;
}

std::string stapA(const std::vector<std::string>& nals) {
  std::string payload(1, static_cast<char>(0x78));  // NRI 3, type 24
  for (const std::string& unit : nals) {
    payload += static_cast<char>(unit.size() >> 8);
    payload += static_cast<char>(unit.size() & 0xff);
    payload += unit;
  }
  return payload;
}

std::string interleaved(uint8_t channel, const std::string& packet) {
  std::string frame = {'$', static_cast<char>(channel), static_cast<char>(packet.size() >> 8),
                       static_cast<char>(packet.size() & 0xff)};
  return frame + packet;
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

RtspPeer::~RtspPeer() { stop(); }

void RtspPeer::stop() { listener_.stop(); }

std::vector<std::string> RtspPeer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t RtspPeer::countOf(const std::string& method) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return countLocked(method);
}

size_t RtspPeer::connectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

bool RtspPeer::waitForRequests(const std::string& method, size_t count, std::chrono::milliseconds deadline) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, deadline, [&] { return countLocked(method) >= count; });
}

size_t RtspPeer::countLocked(const std::string& method) const {
  return std::count_if(requests_.begin(), requests_.end(),
                       [&](const std::string& head) { return head.rfind(method + " ", 0) == 0; });
}

void RtspPeer::serve(int connection) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++connections_;
  }
  changed_.notify_all();
  std::string input;
  bool playing = false;
  size_t nextPacket = 0;
  auto nextSend = Clock::now();
  for (;;) {
    int timeoutMs = -1;
    const bool sending = playing && nextPacket < script_.packets.size();
    if (sending)
      timeoutMs = static_cast<int>(std::max<long long>(
          0, std::chrono::duration_cast<std::chrono::milliseconds>(nextSend - Clock::now()).count()));
    const int ready = listener_.wait(connection, POLLIN, timeoutMs);
    if (ready < 0) return;
    if (ready == 1) {
      char chunk[4096];
      const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      input.append(chunk, static_cast<size_t>(n));
      if (!answerRequests(connection, input, playing)) return;
      if (playing && nextPacket == 0) nextSend = Clock::now();
      continue;
    }
    if (!sending) continue;
    if (!listener_.sendAll(connection, interleaved(0, script_.packets[nextPacket++]))) return;
    nextSend += script_.pace;
    if (nextPacket == script_.packets.size() && script_.after == AfterPackets::Close) return;
  }
}

bool RtspPeer::answerRequests(int connection, std::string& input, bool& playing) {
  for (size_t end = input.find("\r\n\r\n"); end != std::string::npos; end = input.find("\r\n\r\n")) {
    const std::string head = input.substr(0, end + 4);
    input.erase(0, end + 4);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(head);
    }
    changed_.notify_all();
    bool close = false;
    if (!listener_.sendAll(connection, answerFor(head, playing, close)) || close) return false;
  }
  return true;
}

bool RtspPeer::authorised(const std::string& head, const std::string& method) const {
  const std::string header = headerOf(head, "Authorization");
  if (script_.auth == Auth::Basic) return header == "Basic " + base64(script_.user + ":" + script_.password);
  if (header.rfind("Digest ", 0) != 0) return false;
  const std::string uri = digestParam(header, "uri");
  const std::string ha1 = md5(script_.user + ":" + kRealm + ":" + script_.password);
  const std::string ha2 = md5(method + ":" + uri);
  const std::string qop = digestItem(header, "qop");
  const std::string expected = qop == "auth" ? md5(ha1 + ":" + kNonce + ":" + digestItem(header, "nc") + ":" +
                                                   digestParam(header, "cnonce") + ":auth:" + ha2)
                                             : md5(ha1 + ":" + kNonce + ":" + ha2);
  return digestParam(header, "username") == script_.user && digestParam(header, "response") == expected;
}

std::string RtspPeer::answerFor(const std::string& head, bool& playing, bool& close) {
  const std::string method = head.substr(0, head.find(' '));
  const size_t uriBegin = method.size() + 1;
  const std::string uri = head.substr(uriBegin, head.find(' ', uriBegin) - uriBegin);
  const std::string cseq = "CSeq: " + headerOf(head, "CSeq") + "\r\n";
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
  if (method == "PLAY") {
    playing = true;
    return "RTSP/1.0 200 OK\r\n" + cseq + session + "\r\n";
  }
  if (method == "TEARDOWN") close = true;
  return "RTSP/1.0 200 OK\r\n" + cseq + session + "\r\n";
}

}  // namespace rtsptest
