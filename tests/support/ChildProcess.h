// Runs a program as a child process with its stdout and stderr captured, for tests that drive a
// program from outside (qrmhost, camsim, nm). Every wait has a deadline; a child still running
// at destruction is killed, and so is one whose starting thread dies (see the constructor).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct ChildResult {
  int exitStatus = -1;  // -1 when the child did not end by itself in time or died of a signal
  std::string out;
  std::string err;
  std::vector<std::string> outLines() const;
  std::vector<std::string> errLines() const;
};

class ChildProcess {
 public:
  // `arguments` without the program (looked up in PATH unless it holds a '/'); `extraEnvironment`
  // as "NAME=value" added to ours. The child gets SIGTERM when the constructing thread ends.
  // With `shareStderr` the child writes to our stderr (a long-running child whose stderr nobody
  // reads could otherwise fill the pipe and block).
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& extraEnvironment = {}, bool shareStderr = false);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads until a complete stdout line containing `text` arrived; false at the deadline or EOF.
  bool waitForOutLine(const std::string& text, std::chrono::steady_clock::time_point deadline);
  // Reads until `done` holds for all of stdout so far; false at the deadline or EOF.
  bool waitForOut(const std::function<bool(const std::string& out)>& done,
                  std::chrono::steady_clock::time_point deadline);
  const std::string& outSoFar() const { return texts_[0]; }
  const std::string& errSoFar() const { return texts_[1]; }
  void sendSignal(int signal);
  // Reads both streams to their end and reaps the child; kills it when `deadline` passes.
  ChildResult finish(std::chrono::steady_clock::time_point deadline);

 private:
  // Reads what is available within the deadline; false when both streams ended or time is up.
  bool readSome(std::chrono::steady_clock::time_point deadline);
  // True once the child has exited (not yet reaped), false when `deadline` passes first.
  bool waitForExit(std::chrono::steady_clock::time_point deadline);
  void killAndReap();

  pid_t pid_ = -1;
  bool reading() const { return fds_[0] >= 0 || fds_[1] >= 0; }

  int fds_[2] = {-1, -1};  // reading ends of stdout and stderr, -1 once at their end
  std::string texts_[2];   // what came on them
};

// Runs `command` (the program, then its arguments) and returns what it printed; at most `timeout` long.
ChildResult runChild(const std::vector<std::string>& command, const std::vector<std::string>& environment = {},
                     std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Splits text into lines without their newlines; a last line without a newline counts too.
std::vector<std::string> splitLines(const std::string& text);
