// Runs child programs for the camsim tests: the simulator binary itself (for its command
// line) and the curl tool as an independent HTTP client.
// Blocking; any thread. Output is capped; the child is killed when the deadline passes.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct ProgramResult {
  int exitCode = -1;   // -1 when it could not start or had to be killed
  std::string output;  // standard output
};

// argv[0] is looked up in PATH.
ProgramResult runProgram(std::vector<std::string> argv, std::chrono::milliseconds deadline = std::chrono::seconds(10));

struct CurlResult {
  int exitCode = -1;  // curl's exit status; -1 when it had to be killed
  int status = 0;     // HTTP status of the last answer (from -i output)
  std::string head;   // status line and headers of the last answer
  std::string body;
};

// curl -s -S -i <args...>; args typically end with the URL.
CurlResult runCurl(const std::vector<std::string>& args, std::chrono::milliseconds deadline = std::chrono::seconds(10));
