// The HTTP server of `qrmhost serve`: the console page, the JSON API, live pictures as
// multipart/x-mixed-replace, events as Server-Sent Events and metrics in Prometheus's text format.
// One thread of its own serves every connection; what it serves comes from a ServeContent.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Broadcast.h"

namespace qrmhost {

// What the server serves. The server's thread calls every member.
class ServeContent {
 public:
  virtual ~ServeContent() = default;
  // GET /api/channels.
  virtual std::string channelsJson() = 0;
  // GET /metrics.
  virtual std::string metricsText() = 0;
  struct Pictures {
    Broadcast* broadcast = nullptr;  // the channel's JPEG pictures
    std::string refusal;             // when not empty: why the channel has none (409)
  };
  // The pictures of the channel `id` ("camera-channel-stream"); nullopt for an unknown id.
  virtual std::optional<Pictures> pictures(const std::string& id) = 0;
  // Events as ready Server-Sent Events texts ("data: {...}\n\n").
  virtual Broadcast& events() = 0;
  struct Outcome {
    int status = 200;
    std::string json;  // {"code":N,"error":"..."}
  };
  // A POST under /api/cameras/ with its JSON body (at most kBodyLimit bytes). Runs on the server's
  // worker thread, one at a time: it may wait for the camera.
  virtual Outcome post(const std::string& path, const std::string& body) = 0;
};

class ConsoleServer {
 public:
  static constexpr size_t kHeadLimit = 8192;
  static constexpr size_t kBodyLimit = 16384;
  static constexpr size_t kMaxConnections = 512;
  static constexpr size_t kMaxWaitingPosts = 16;

  // Binds `address`:`port` at once (throws ExitError, status 2, when it cannot); serves after
  // start(). With a `token`, every request needs it (as a bearer token or the cookie /login sets).
  ConsoleServer(ServeContent& content, const std::string& address, unsigned short port, std::string token);
  // Closes every connection and joins the threads (a POST the worker runs is waited for). Close
  // the content's broadcasts first, so that no publisher wakes a connection of a server that is gone.
  ~ConsoleServer();
  ConsoleServer(const ConsoleServer&) = delete;
  ConsoleServer& operator=(const ConsoleServer&) = delete;

  // "http://127.0.0.1:PORT/" with the port bound.
  std::string url() const;
  void start();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace qrmhost
