// Reads /control/faststream.jpg over a raw loopback socket and checks the multipart layout
// byte by byte, so the camsim tests see exactly what a client sees.
// Blocking; any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct StreamCapture {
  std::string head;                   // HTTP head of the answer
  std::vector<std::string> pictures;  // part bodies in order
  bool closedByServer = false;        // the server ended the stream before enough parts came
  std::string error;                  // layout fault, empty when the bytes were well formed
};

inline constexpr const char* kStreamBoundaryLine = "--VANTREL_Fast_Serverpush\r\n";

// Reads until `parts` parts arrived, the server closed, the layout broke or the deadline
// passed (then error says so).
StreamCapture captureStream(std::uint16_t port, const std::string& target, std::size_t parts,
                            const std::string& extraHeaders = "",
                            std::chrono::milliseconds deadline = std::chrono::seconds(10));

// A connection left open (e.g. to check that shutdown does not wait for clients): connects,
// sends the request and waits up to 10 s for the first bytes of the answer. Closes on destruction.
class OpenStream {
 public:
  OpenStream(std::uint16_t port, const std::string& target);
  ~OpenStream();
  OpenStream(const OpenStream&) = delete;
  OpenStream& operator=(const OpenStream&) = delete;

  bool answered() const { return !firstBytes_.empty(); }
  const std::string& firstBytes() const { return firstBytes_; }

 private:
  int fd_ = -1;
  std::string firstBytes_;
};
