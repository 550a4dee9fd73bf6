// Starts vantrel-camsim as a child process for an integration test and talks to its /sim control paths.
//
// Contract: construct on the test thread (the simulator gets SIGTERM when that thread ends, so a crashed test leaves
// none behind); the constructor returns once the simulator listens (it reads the {"http_port":..} line within 10 s,
// else throws). The destructor (or stop()) sends SIGTERM, waits up to 10 s, then SIGKILLs. The helper methods are
// blocking HTTP/1.0 requests over 127.0.0.1 with a 5 s deadline by default, callable from any thread (they share no
// mutable state).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"

// A connection to 127.0.0.1:`port` that has sent `request`; -1 when nothing listens there.
int connectAndSend(std::uint16_t port, const std::string& request);
enum class ReadEnd { Done, Closed, Deadline };
// Reads from `fd` into `bytes` until `done()` holds, the peer closes (or resets) or the deadline passes.
ReadEnd readUntil(int fd, std::string& bytes, const std::function<bool()>& done, std::chrono::milliseconds deadline);

class CamsimProcess {
 public:
  struct Answer {
    int status = 0;    // from the status line; 0 when none could be read
    std::string head;  // status line and headers, without the blank line
    std::string body;
  };

  // extraArgs go after "--port 0" (e.g. {"--model", "VX-T40", "--user", "u", "--password", "p"}).
  explicit CamsimProcess(const std::vector<std::string>& extraArgs = {}, bool withHttps = false);
  ~CamsimProcess();
  CamsimProcess(const CamsimProcess&) = delete;
  CamsimProcess& operator=(const CamsimProcess&) = delete;

  std::uint16_t httpPort() const { return httpPort_; }
  std::uint16_t httpsPort() const { return httpsPort_; }  // 0 without HTTPS
  // The HTTPS certificate's SHA-256 fingerprint from the start line ("AB:CD:..."); "" without HTTPS.
  std::string httpsFingerprint() const { return httpsFingerprint_; }
  std::uint16_t rtspPort() const { return rtspPort_; }  // 0 unless an H.264 model

  // SIGTERM, wait; returns the exit status (-1 when it had to be killed). Idempotent.
  int stop();

  // GET target; extraHeaders are whole lines ("Name: value\r\n"). Throws std::runtime_error
  // when the simulator cannot be reached or does not answer within the deadline.
  Answer request(const std::string& target, const std::string& extraHeaders = "",
                 std::chrono::milliseconds deadline = std::chrono::seconds(5)) const;
  // Body of GET target (any status).
  std::string get(const std::string& target) const;

  // Targets of /sim/requests that start with `prefix`, in arrival order.
  std::vector<std::string> requestTargets(const std::string& prefix = "") const;
  void clearRequests() const;
  // Installs a fault: fault("path=/control&status=500&count=1"). Throws unless the
  // simulator answers OK.
  void fault(const std::string& query) const;
  // Polls /sim/requests until count requests whose target starts with prefix were seen.
  bool waitForRequest(const std::string& prefix, std::size_t count,
                      std::chrono::milliseconds deadline = std::chrono::seconds(5)) const;

  // Path of the simulator binary the tests were built with.
  static std::string binaryPath();

 private:
  std::unique_ptr<ChildProcess> child_;
  int exitStatus_ = -1;
  std::uint16_t httpPort_ = 0;
  std::uint16_t httpsPort_ = 0;
  std::string httpsFingerprint_;
  std::uint16_t rtspPort_ = 0;
};
