// Helpers of the HTTP tests: camera connection data for 127.0.0.1 and a request run to its end
// on a private io_context on the test thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "host/Nuvlet/Http.h"

namespace httptest {

inline Talvo::asio::ConnectionInfo localCamera(uint16_t port, const std::string& user = "",
                                               const std::string& password = "", const std::string& scheme = "http") {
  Talvo::asio::ConnectionInfo info;
  info.scheme = scheme;
  info.host = "127.0.0.1";
  info.port = port;
  info.user = user;
  info.password = password;
  info.path = "/";
  return info;
}

// What the callback of one request received.
struct Outcome {
  int calls = 0;
  boost::system::error_code error;
  Talvo::http::Body body;
  Talvo::http::HttpResponse response;
  std::string bodyText() const { return std::string(body.begin(), body.end()); }
};

inline Talvo::http::Callback recordInto(Outcome& outcome) {
  return [&outcome](const boost::system::error_code& error, const Talvo::http::Body& body,
                    const Talvo::http::HttpResponse& response) {
    ++outcome.calls;
    outcome.error = error;
    outcome.body = body;
    outcome.response = response;
  };
}

// Runs `context` until it has no more work; the request's own time-out bounds this, the guard
// only keeps a broken build from hanging the suite.
inline void runToEnd(boost::asio::io_context& context) { context.run_for(std::chrono::seconds(60)); }

inline Outcome get(const Talvo::asio::ConnectionInfo& info, const std::string& uri, int timeoutSeconds = 5,
                   Talvo::ILogger* logger = nullptr) {
  boost::asio::io_context context;
  Outcome outcome;
  Talvo::http::AsyncOperationPtr operation;
  Talvo::http::asyncGetEx(info, uri, context, timeoutSeconds, recordInto(outcome), operation, logger);
  runToEnd(context);
  return outcome;
}

// A port on 127.0.0.1 where nothing listens (it was free a moment ago).
inline uint16_t closedPort() {
  boost::asio::io_context context;
  boost::asio::ip::tcp::acceptor acceptor(
      context, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
  return acceptor.local_endpoint().port();
}

// The threads of this process now. Asio's first name lookup on an io_context starts a resolver
// thread that lives as long as the io_context: a lookup that happened shows here.
inline size_t threadCount() {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    (void)entry;
    ++count;
  }
  return count;
}

inline std::string head(const std::string& statusLine, const std::string& headers = "") {
  return statusLine + "\r\n" + headers + "\r\n";
}

}  // namespace httptest
