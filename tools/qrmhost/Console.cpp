#include "Console.h"

#include <unistd.h>

#include <cstdio>

namespace qrmhost {

Console::Console() : stderrIsTerminal_(isatty(STDERR_FILENO) == 1) {}

void Console::report(const JsonObject& line) {
  const std::string text = lineText(line) + "\n";
  std::lock_guard<std::mutex> lock(stdoutMutex_);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void Console::message(const std::string& line) {
  const std::string text = line + "\n";
  std::lock_guard<std::mutex> lock(stderrMutex_);
  clearProgressLocked();
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void Console::progress(const std::string& text) {
  if (!stderrIsTerminal_) return;
  std::lock_guard<std::mutex> lock(stderrMutex_);
  // "\033[K" erases what a longer previous progress text left on the line.
  std::fprintf(stderr, "\r%s\033[K", text.c_str());
  std::fflush(stderr);
  progressShown_ = true;
}

void Console::endProgress() {
  std::lock_guard<std::mutex> lock(stderrMutex_);
  if (!progressShown_) return;
  std::fputc('\n', stderr);
  std::fflush(stderr);
  progressShown_ = false;
}

void Console::clearProgressLocked() {
  if (!progressShown_) return;
  std::fputs("\r\033[K", stderr);
  progressShown_ = false;
}

}  // namespace qrmhost
