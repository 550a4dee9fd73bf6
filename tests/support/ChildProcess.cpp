#include "ChildProcess.h"

#include <algorithm>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> ChildResult::outLines() const { return splitLines(out); }
std::vector<std::string> ChildResult::errLines() const { return splitLines(err); }

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& extraEnvironment, bool shareStderr) {
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

  std::vector<std::string> argvText{program};
  argvText.insert(argvText.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& text : argvText) argv.push_back(text.data());
  argv.push_back(nullptr);

  // The extra variables replace the inherited ones of the same name (getenv finds the first).
  const auto setHere = [&](const std::string& variable) {
    const std::string name = variable.substr(0, variable.find('=') + 1);
    return std::any_of(extraEnvironment.begin(), extraEnvironment.end(),
                       [&](const std::string& extra) { return extra.compare(0, name.size(), name) == 0; });
  };
  std::vector<std::string> envText;
  for (char** variable = environ; *variable; ++variable)
    if (!setHere(*variable)) envText.emplace_back(*variable);
  envText.insert(envText.end(), extraEnvironment.begin(), extraEnvironment.end());
  std::vector<char*> envp;
  for (auto& text : envText) envp.push_back(text.data());
  envp.push_back(nullptr);

  const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls until exec. The child gets SIGTERM when the thread that
    // started it ends without the destructor (a crashed test); it starts with no blocked
    // signals and default dispositions, whatever the runner set.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal) ::signal(signal, SIG_DFL);
    dup2(devNull, STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    if (!shareStderr) dup2(errPipe[1], STDERR_FILENO);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(devNull);
  close(outPipe[1]);
  close(errPipe[1]);
  fds_[0] = outPipe[0];
  fds_[1] = errPipe[0];
  if (pid_ < 0) throw std::runtime_error("cannot start " + program);
}

ChildProcess::~ChildProcess() {
  killAndReap();
  for (const int fd : fds_)
    if (fd >= 0) close(fd);
}

bool ChildProcess::readSome(Clock::time_point deadline) {
  pollfd fds[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
  if (!reading()) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  const int ready = poll(fds, 2, static_cast<int>(left));
  if (ready < 0 && errno == EINTR) return true;
  if (ready <= 0) return false;
  for (int i = 0; i < 2; ++i) {
    if (fds_[i] < 0 || fds[i].revents == 0) continue;
    char chunk[4096];
    const ssize_t got = read(fds_[i], chunk, sizeof chunk);
    if (got > 0) {
      texts_[i].append(chunk, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      close(fds_[i]);
      fds_[i] = -1;
    }
  }
  return true;
}

bool ChildProcess::waitForOutLine(const std::string& text, Clock::time_point deadline) {
  // `text` holds no newline: found among the complete lines, it is in one of them.
  return waitForOut(
      [&](const std::string& out) {
        const size_t end = out.rfind('\n');
        return end != std::string::npos && out.rfind(text, end) != std::string::npos;
      },
      deadline);
}

bool ChildProcess::waitForOut(const std::function<bool(const std::string& out)>& done, Clock::time_point deadline) {
  while (!done(texts_[0]))
    if (!readSome(deadline)) return false;
  return true;
}

void ChildProcess::sendSignal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

ChildResult ChildProcess::finish(Clock::time_point deadline) {
  while (readSome(deadline)) {
  }
  int status = 0, exitStatus = -1;
  if (!reading() && waitForExit(deadline) && waitpid(pid_, &status, 0) == pid_) {
    pid_ = -1;
    if (WIFEXITED(status)) exitStatus = WEXITSTATUS(status);
  }
  killAndReap();
  return {exitStatus, texts_[0], texts_[1]};
}

bool ChildProcess::waitForExit(Clock::time_point deadline) {
  if (pid_ <= 0) return false;
  const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidFd < 0) return true;  // an old kernel: the closed pipes say the child is ending
  pollfd exited = {pidFd, POLLIN, 0};
  int ready = 0;
  do {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    ready = left > 0 ? poll(&exited, 1, static_cast<int>(left)) : 0;
  } while (ready < 0 && errno == EINTR);
  close(pidFd);
  return ready > 0;
}

void ChildProcess::killAndReap() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

ChildResult runChild(const std::vector<std::string>& command, const std::vector<std::string>& environment,
                     std::chrono::milliseconds timeout) {
  ChildProcess child(command.at(0), std::vector<std::string>(command.begin() + 1, command.end()), environment);
  return child.finish(Clock::now() + timeout);
}
