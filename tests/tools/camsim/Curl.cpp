#include "Curl.h"

#include <cstdlib>

#include "ChildProcess.h"

CurlResult runCurl(const std::vector<std::string>& args, std::chrono::milliseconds deadline) {
  std::vector<std::string> command = {"curl", "-s", "-S", "-i", "--max-time", "8"};
  command.insert(command.end(), args.begin(), args.end());
  const ChildResult run = runChild(command, {}, deadline);
  CurlResult result;
  result.exitCode = run.exitStatus;
  // With -i curl prints every answer it got (e.g. a 401 before the retried one); keep the last.
  for (std::size_t start = 0;;) {
    const auto headEnd = run.out.find("\r\n\r\n", start);
    if (headEnd == std::string::npos) break;
    result.head = run.out.substr(start, headEnd - start);
    result.body = run.out.substr(headEnd + 4);
    const auto space = result.head.find(' ');
    result.status = space == std::string::npos ? 0 : std::atoi(result.head.c_str() + space + 1);
    if (result.body.compare(0, 5, "HTTP/") != 0) break;
    start = headEnd + 4;
  }
  return result;
}
