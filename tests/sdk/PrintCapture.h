// Routes the SDK's printing into a list for the duration of a test (and restores the default).
// The SDK prints on the thread that steps it; the capture is guarded for the transport tests.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "Zelta_Print.h"

class PrintCapture {
 public:
  explicit PrintCapture(int debugMask = 0) {
    Zelta::Zelta_Print::setDebugMask(debugMask);
    Zelta::Zelta_Print::setSink([this](Zelta::Zelta_PrintKind kind, const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (kind != Zelta::Zelta_PrintKind::Trace) messages_.push_back(text);
    });
  }
  ~PrintCapture() {
    Zelta::Zelta_Print::setSink(nullptr);
    Zelta::Zelta_Print::setDebugMask(0);
  }
  PrintCapture(const PrintCapture&) = delete;
  PrintCapture& operator=(const PrintCapture&) = delete;

  std::vector<std::string> messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  // Messages equal to " " + text (the SDK's texts begin with one blank).
  size_t count(const std::string& text) const {
    const auto all = messages();
    return static_cast<size_t>(std::count(all.begin(), all.end(), " " + text));
  }
  bool has(const std::string& text) const { return count(text) > 0; }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};
