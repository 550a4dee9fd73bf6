// Runs the curl tool as an independent HTTP client for the camsim tests.
// Blocking; any thread. The child is killed when the deadline passes.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct CurlResult {
  int exitCode = -1;  // curl's exit status; -1 when it had to be killed
  int status = 0;     // HTTP status of the last answer (from -i output)
  std::string head;   // status line and headers of the last answer
  std::string body;
};

// curl -s -S -i <args...>; args typically end with the URL.
CurlResult runCurl(const std::vector<std::string>& args, std::chrono::milliseconds deadline = std::chrono::seconds(10));
