// The RTSP server of H.264 models: GStreamer's RTSP server library serves "/vantrel.h264", a
// test pattern encoded with x264 at the picture size, over RTSP/RTP (TCP interleaved or UDP),
// with Basic and Digest authentication when the camera has credentials. Each client gets its
// own pipeline, so every session begins with a key frame.
//
// Faults (FaultTable, path "/vantrel.h264"): drop_after_parts=N closes the RTSP connections
// after N frames, stall_after_parts=N sends no more frames after N (the connection stays).
// Each DESCRIBE is written to the request log as method "DESCRIBE".
//
// Threads: the server runs a GLib main loop on a thread of its own, started by start() and
// ended by the destructor (which joins it). The fault table and the log are thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "FaultTable.h"
#include "RequestLog.h"

namespace camsim {

struct RtspSettings {
  std::string bindAddress = "127.0.0.1";
  std::uint16_t port = 0;  // 0: pick one
  std::string user;        // empty: no authentication
  std::string password;
  int width = 640;
  int height = 360;
  int framesPerSecond = 25;
  int keyFrameInterval = 25;
};

class RtspServer {
 public:
  RtspServer(const RtspSettings& settings, FaultTable& faults, RequestLog& log);
  ~RtspServer();
  RtspServer(const RtspServer&) = delete;
  RtspServer& operator=(const RtspServer&) = delete;

  // Binds and starts serving; the port it listens on. Throws std::runtime_error when it cannot.
  std::uint16_t start();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  std::thread loop_;
};

// The launch description of the stream's pipeline (exposed for docs and tests).
std::string rtspLaunchLine(const RtspSettings& settings);

}  // namespace camsim
