#include "CamsimProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include <nlohmann/json.hpp>

using Clock = std::chrono::steady_clock;

int connectAndSend(std::uint16_t port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return fd;
}

ReadEnd readUntil(int fd, std::string& bytes, const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  char chunk[65536];
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, left < 0 ? 0 : static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return ReadEnd::Deadline;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ReadEnd::Closed;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return ReadEnd::Done;
}

std::string CamsimProcess::binaryPath() { return CAMSIM_PATH; }

CamsimProcess::CamsimProcess(const std::vector<std::string>& extraArgs, bool withHttps) {
  std::vector<std::string> args = {"--port", "0"};
  if (withHttps) args.insert(args.end(), {"--https-port", "0"});
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  child_ = std::make_unique<ChildProcess>(binaryPath(), args, std::vector<std::string>{}, true);
  if (!child_->waitForOutLine("\"http_port\":", Clock::now() + std::chrono::seconds(10))) {
    const ChildResult result = child_->finish(Clock::now());
    throw std::runtime_error("camsim did not announce its ports: " + result.out + result.err);
  }
  // The start line: {"http_port":..,"https_port":..} with "https_fingerprint" and "rtsp_port" when there are.
  nlohmann::json announced = nlohmann::json::object();
  for (const std::string& line : splitLines(child_->outSoFar())) {
    const auto json = nlohmann::json::parse(line, nullptr, false);
    if (json.is_object()) announced.update(json);
  }
  if (!announced.contains("http_port"))
    throw std::runtime_error("camsim start line lacks http_port: " + child_->outSoFar());
  httpPort_ = announced["http_port"].get<std::uint16_t>();
  httpsPort_ = announced.value("https_port", std::uint16_t{0});
  httpsFingerprint_ = announced.value("https_fingerprint", std::string());
  rtspPort_ = announced.value("rtsp_port", std::uint16_t{0});
}

CamsimProcess::~CamsimProcess() { stop(); }

int CamsimProcess::stop() {
  if (!child_) return exitStatus_;
  child_->sendSignal(SIGTERM);
  exitStatus_ = child_->finish(Clock::now() + std::chrono::seconds(10)).exitStatus;
  child_.reset();
  return exitStatus_;
}

CamsimProcess::Answer CamsimProcess::request(const std::string& target, const std::string& extraHeaders,
                                             std::chrono::milliseconds timeout) const {
  const int fd =
      connectAndSend(httpPort_, "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
  if (fd < 0) throw std::runtime_error("cannot connect to camsim on port " + std::to_string(httpPort_));
  std::string raw;
  const ReadEnd end = readUntil(
      fd, raw, [] { return false; }, timeout);
  ::close(fd);
  if (end == ReadEnd::Deadline) throw std::runtime_error("camsim request: answer timed out");
  Answer answer;
  const auto headEnd = raw.find("\r\n\r\n");
  answer.head = raw.substr(0, headEnd);
  if (headEnd != std::string::npos) answer.body = raw.substr(headEnd + 4);
  std::sscanf(raw.c_str(), "HTTP/%*s %d", &answer.status);
  return answer;
}

std::string CamsimProcess::get(const std::string& target) const { return request(target).body; }

void CamsimProcess::clearRequests() const { get("/sim/requests?clear=1"); }

void CamsimProcess::fault(const std::string& query) const {
  const Answer answer = request("/sim/fault?" + query);
  if (answer.status != 200) throw std::runtime_error("camsim refused fault " + query + ": " + answer.body);
}

std::vector<std::string> CamsimProcess::requestTargets(const std::string& prefix) const {
  std::vector<std::string> matching;
  for (const std::string& line : splitLines(get("/sim/requests"))) {
    const auto entry = nlohmann::json::parse(line, nullptr, false);
    const std::string target = entry.is_object() ? entry.value("target", std::string()) : std::string();
    if (!target.empty() && target.compare(0, prefix.size(), prefix) == 0) matching.push_back(target);
  }
  return matching;
}

bool CamsimProcess::waitForRequest(const std::string& prefix, std::size_t count,
                                   std::chrono::milliseconds deadline) const {
  for (const auto until = Clock::now() + deadline; requestTargets(prefix).size() < count;) {
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
