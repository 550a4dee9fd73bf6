// A scripted TCP peer on 127.0.0.1 for byte-exact client tests: it accepts connections one
// after another on its own thread, reads each request head (up to "\r\n\r\n", at most
// kMaxHead bytes), records it, then plays the same script on every connection.
//
// Contract: construct and call port()/requests()/stop() from the test thread; the peer thread
// is joined by stop() (also run by the destructor). A Stall or a pending step ends when the
// client closes or stop() is called, so stop() always returns promptly.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "LoopbackListener.h"
#include "Recorder.h"

class RawPeer : public Recorder {
 public:
  struct Step {
    enum class Kind {
      Send,              // write bytes (stops early when the client is gone)
      Pause,             // wait this long (a slow peer), cut short by stop()
      Close,             // close the connection; later steps are skipped
      StallUntilStopped  // keep the connection open and silent until stop()
    };
    Kind kind;
    std::string bytes;
    std::chrono::milliseconds pause{0};
  };

  static Step send(std::string bytes) { return {Step::Kind::Send, std::move(bytes), {}}; }
  static Step pause(std::chrono::milliseconds howLong) { return {Step::Kind::Pause, {}, howLong}; }
  static Step close() { return {Step::Kind::Close, {}, {}}; }
  static Step stall() { return {Step::Kind::StallUntilStopped, {}, {}}; }

  // Listens on an ephemeral port and starts the peer thread. When the script ends without
  // Close, the connection is closed after the last step.
  explicit RawPeer(std::vector<Step> script);
  // Plays, on each connection, the script `chooser` gives for that connection's request head
  // (called on the peer thread).
  using Chooser = std::function<std::vector<Step>(const std::string& requestHead)>;
  explicit RawPeer(Chooser chooser);
  ~RawPeer() { stop(); }
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  std::uint16_t port() const { return listener_.port(); }

  // Request heads received so far, oldest first; lastRequest() is "" before the first.
  std::vector<std::string> requests() const { return snapshot(&RawPeer::requests_); }
  std::string lastRequest() const;
  std::size_t connectionCount() const { return snapshot(&RawPeer::connections_); }
  // Blocks until count connections were accepted or the deadline passes.
  bool waitForConnections(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(5)) const {
    return waitUntil([&] { return connections_ >= count; }, deadline);
  }

  void stop() { listener_.stop(); }

  static constexpr std::size_t kMaxHead = 64 * 1024;

 private:
  void serve(int connection);
  bool play(int connection, const Step& step);
  std::string readHead(int connection);

  const Chooser chooser_;
  LoopbackListener listener_{"RawPeer"};  // every wait also watches its wake pipe
  std::vector<std::string> requests_;
  std::size_t connections_ = 0;
};
