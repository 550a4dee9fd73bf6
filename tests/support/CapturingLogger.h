// A test logger that records every Log call. Thread-safe: the driver logs from its own threads
// while the test reads. Header-only.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "Recorder.h"
#include "host/Contract.h"

class CapturingLogger : public TestContract<Talvo::ILogger, Talvo::IContract>, public Recorder {
 public:
  struct Line {
    int level = 0;
    std::string file;
    int line = 0;
    std::string function;
    std::string message;
  };

  explicit CapturingLogger(int level = 0) : level_(level) {}

  int GetLevel() override { return snapshot(&CapturingLogger::level_); }
  void SetOption(const char* name, const char* value) override {
    if (name && value && std::string(name) == "level") record([&] { level_ = std::atoi(value); });
  }

  void Log(int level, const char* file, int line, const char* function, const char* message) override {
    Line entry{level, file ? file : "", line, function ? function : "", message ? message : ""};
    record([&] { lines_.push_back(std::move(entry)); });
  }

  std::vector<Line> lines() const { return snapshot(&CapturingLogger::lines_); }
  // The message texts only, in order.
  std::vector<std::string> messages() const {
    std::vector<std::string> texts;
    for (const Line& l : lines()) texts.push_back(l.message);
    return texts;
  }
  bool contains(const std::string& part) const { return count(part) > 0; }
  size_t count(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return countLocked(part);
  }
  // True as soon as one (`n`) messages containing `part` were logged; false when `deadline` passes first.
  bool waitFor(const std::string& part, std::chrono::milliseconds deadline) const {
    return waitForCount(part, 1, deadline);
  }
  bool waitForCount(const std::string& part, size_t n, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return countLocked(part) >= n; }, deadline);
  }
  void clear() {
    record([&] { lines_.clear(); });
  }
  // Every message, one per line: for failure output.
  std::string dump() const {
    std::string text;
    for (const Line& l : lines())
      text += "L" + std::to_string(l.level) + " " + l.file + ":" + std::to_string(l.line) + " " + l.function + ":" +
              l.message + "\n";
    return text;
  }

 private:
  size_t countLocked(const std::string& part) const {
    return std::count_if(lines_.begin(), lines_.end(),
                         [&](const Line& l) { return l.message.find(part) != std::string::npos; });
  }

  int level_;
  std::vector<Line> lines_;
};
