// One client connection: reads requests (bounded head and body), applies faults and
// authentication, answers through CameraApi/SimControl, and hands server-push requests over
// to a PushStream.
// Threading: all handlers run on the connection's strand (the stream's executor). The object
// keeps itself alive through shared_from_this while operations are pending.
#pragma once

#include "FaultTable.h"
#include "Query.h"
#include "Reply.h"
#include "SimContext.h"
#include "StreamOps.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace camsim {

template <class Stream>
class ServerSession : public std::enable_shared_from_this<ServerSession<Stream>> {
 public:
  // ctx must outlive the server.
  ServerSession(Stream&& stream, const SimContext& ctx);

  void start();

  static constexpr std::size_t kHeaderLimit = 8 * 1024;
  static constexpr std::size_t kBodyLimit = 16 * 1024;

 private:
  using Request = beast::http::request<beast::http::string_body>;

  void readRequest();
  void onRead(error_code ec);
  void serveSim();
  void serveCamera(std::optional<Fault> fault);
  bool applyFault(const Fault& fault);
  void serveStream(std::optional<Fault> fault);
  void serveEventStream(std::optional<Fault> fault);
  void serveRecordings(const Target& target);
  void serveSpeaker(std::optional<Fault> fault);
  void answer(const Reply& reply);
  void writeRaw(std::string bytes, bool thenStall);
  void drainUntilClosed();
  void afterAnswer(bool keepAlive, error_code ec);
  void noteAnswer(int status);
  std::string statusLineVersion() const;

  Stream stream_;
  const SimContext& ctx_;
  beast::flat_buffer buffer_;
  std::optional<beast::http::request_parser<beast::http::string_body>> parser_;
  Request request_;
  std::shared_ptr<void> pendingResponse_;  // keeps the response alive while it is written
  std::string raw_;
  net::steady_timer delayTimer_;
  std::uint64_t logId_ = 0;
  std::array<char, 4096> readScratch_;
};

}  // namespace camsim
