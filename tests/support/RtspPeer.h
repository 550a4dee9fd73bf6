// A scripted RTSP server on 127.0.0.1 for what a real server will not do on request: it answers
// OPTIONS, DESCRIBE, SETUP, PLAY, GET_PARAMETER and TEARDOWN, asks for Basic or Digest
// credentials, names the session time-out it is told, and after PLAY sends a given list of
// interleaved RTP packets at a given pace, then stalls (answering keep-alives).
// Connections are served one after another on the peer's thread.
//
// Contract: configure through Script before the constructor; port(), requests() and the counts
// from the test thread; stop() (also run by the destructor) joins the peer thread promptly.
// The helpers below build RTP H.264 packets for the peer and for assembler tests.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "LoopbackListener.h"
#include "Recorder.h"

namespace rtsptest {

// An RTP packet (version 2, payload type 96) carrying `payload`.
std::string rtpPacket(uint16_t sequence, uint32_t timestamp, bool marker, const std::string& payload);
// FU-A fragments of `nal` with at most `fragmentSize` bytes of it each.
std::vector<std::string> fuA(const std::string& nal, size_t fragmentSize);
// One STAP-A payload holding `nals`.
std::string stapA(const std::vector<std::string>& nals);
// A NAL unit of `type` (header byte 0x60 | type) followed by `size` filler bytes, every
// stretch of them distinct from every other (so that FU-A fragments differ).
std::string nal(uint8_t type, size_t size);

// The payloads of an access unit as a camera sends them: a key frame (SPS, PPS and an IDR
// of `keySize` bytes in FU-A pieces) when `key`, else one small delta slice; each payload
// becomes one RTP packet, the marker on the last one.
std::vector<std::string> unitPayloads(bool key, size_t keySize = 5000);

class RtspPeer : public Recorder {
 public:
  enum class Auth { None, Basic, Digest };
  struct Script {
    Auth auth = Auth::None;
    std::string user = "admin";
    std::string password = "s3cr@t";
    int sessionTimeoutSeconds = 60;
    std::string sprop;                      // the fmtp's sprop-parameter-sets, "" for none
    std::string describeStatus = "200 OK";  // e.g. "301 Moved Permanently" (with a Location)
    std::vector<std::string> packets;       // RTP packets sent interleaved on channel 0 after PLAY
    std::chrono::milliseconds pace{0};      // between two packets
  };

  explicit RtspPeer(Script script);
  ~RtspPeer() { stop(); }
  RtspPeer(const RtspPeer&) = delete;
  RtspPeer& operator=(const RtspPeer&) = delete;

  uint16_t port() const { return listener_.port(); }
  // Request heads received, oldest first.
  std::vector<std::string> requests() const { return snapshot(&RtspPeer::requests_); }
  // How many requests of `method` came.
  size_t countOf(const std::string& method) const;
  size_t connectionCount() const { return snapshot(&RtspPeer::connections_); }
  // Blocks until `count` requests of `method` came or the deadline passes.
  bool waitForRequests(const std::string& method, size_t count,
                       std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;
  void stop() { listener_.stop(); }

 private:
  void serve(int connection);
  std::string answerFor(const std::string& head, bool& playing, bool& close);
  bool authorised(const std::string& head, const std::string& method) const;

  const Script script_;
  LoopbackListener listener_{"RtspPeer"};  // every wait also watches its wake pipe
  std::vector<std::string> requests_;
  size_t connections_ = 0;
};

}  // namespace rtsptest
