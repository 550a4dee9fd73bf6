#include "ChildProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMaxOutput = 16 * 1024 * 1024;

// With -i curl prints every answer it got (e.g. a 401 before the retried one); keep the last.
void splitLastAnswer(const std::string& output, CurlResult& result) {
  std::size_t start = 0;
  for (;;) {
    const auto headEnd = output.find("\r\n\r\n", start);
    if (headEnd == std::string::npos) break;
    result.head = output.substr(start, headEnd - start);
    result.body = output.substr(headEnd + 4);
    const auto space = result.head.find(' ');
    result.status = space == std::string::npos ? 0 : std::atoi(result.head.c_str() + space + 1);
    if (result.body.compare(0, 5, "HTTP/") != 0) break;
    start = headEnd + 4;
  }
}

std::string readAll(int fd, Clock::time_point deadline, bool& timedOut) {
  std::string output;
  char chunk[16384];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, left < 0 ? 0 : static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      timedOut = true;
      return output;
    }
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || output.size() > kMaxOutput) return output;
    output.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace

ProgramResult runProgram(std::vector<std::string> args, std::chrono::milliseconds deadline) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  ProgramResult result;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    return result;
  }
  bool timedOut = false;
  result.output = readAll(pipeFds[0], Clock::now() + deadline, timedOut);
  ::close(pipeFds[0]);
  if (timedOut) ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitCode = (!timedOut && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  return result;
}

CurlResult runCurl(const std::vector<std::string>& args, std::chrono::milliseconds deadline) {
  std::vector<std::string> command = {"curl", "-s", "-S", "-i", "--max-time", "8"};
  command.insert(command.end(), args.begin(), args.end());
  const ProgramResult run = runProgram(command, deadline);
  CurlResult result;
  result.exitCode = run.exitCode;
  splitLastAnswer(run.output, result);
  return result;
}
