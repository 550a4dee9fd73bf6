#include "Console.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "host/Nuvlet/ResultText.h"

namespace qrmhost {

std::string isoTime(uint64_t milliseconds) {
  const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(milliseconds % 1000));
  return text;
}

JsonObject withReadableFields(const JsonObject& line) {
  const auto code = line.find("code");
  const bool reason = code != line.end() && code->is_number_integer() && code->get<int64_t>() != 0 &&
                      !line.contains("error");
  const auto time = line.find("time");
  const bool iso = time != line.end() && time->is_number_unsigned() && !line.contains("iso");
  if (!reason && !iso) return line;
  JsonObject out;
  for (const auto& [key, value] : line.items()) {
    out[key] = value;
    if (key == "code" && reason) out["error"] = Talvo::Utility::describeResultCode(value.get<int>());
    if (key == "time" && iso) out["iso"] = isoTime(value.get<uint64_t>());
  }
  return out;
}

// Progress only for a person at a terminal: never when the lines go to a file or a pipe.
Console::Console() : progressShowable_(isatty(STDERR_FILENO) == 1 && isatty(STDOUT_FILENO) == 1) {}

void Console::report(const JsonObject& line) {
  const std::string text = lineText(withReadableFields(line)) + "\n";
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
  if (!progressShowable_) return;
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

bool waitShowingProgress(Console& console, StopRequest& stop, Clock::time_point started, Clock::time_point deadline,
                         const std::function<std::string()>& text) {
  if (!console.showsProgress()) return stop.waitUntil(deadline);
  constexpr auto kRedraw = std::chrono::milliseconds(250);
  bool stopped = false;
  for (;;) {
    stopped = stop.waitUntil(std::min(deadline, Clock::now() + kRedraw));
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.1f s  ", std::chrono::duration<double>(Clock::now() - started).count());
    console.progress(elapsed + text());
    if (stopped || Clock::now() >= deadline) break;
  }
  console.endProgress();
  return stopped;
}

}  // namespace qrmhost
