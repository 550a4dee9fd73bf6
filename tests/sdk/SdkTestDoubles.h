// The SDK tests' doubles: a capture of the SDK's printing while it lives (guarded: the transport
// tests print from other threads), and an authorisation handler with fixed credentials that counts
// the outcomes it was told.
#pragma once

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "Zelta_AuthorizationHandler.h"
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

class FakeAuthorization : public Zelta::Zelta_AuthorizationHandler {
 public:
  FakeAuthorization(std::string user, std::string password, bool alwaysNeeded = false)
      : user_(std::move(user)), password_(std::move(password)), alwaysNeeded_(alwaysNeeded) {}

  bool getUserName(char* buffer, size_t size) override {
    return hasUser && std::strncpy(buffer, user_.c_str(), size) != nullptr;
  }
  bool getPassword(char* buffer, size_t size) override {
    return hasPassword && std::strncpy(buffer, password_.c_str(), size) != nullptr;
  }
  bool needsAuthorization(const char* host) override { return alwaysNeeded_; }
  void authenticationFailed() override { ++failed; }
  void connectionAborted() override { ++aborted; }
  int maxAuthorizationAttempts() override { return 3; }
  bool reconnectAfterAuthFailure() override { return true; }

  bool hasUser = true, hasPassword = true;
  int failed = 0, aborted = 0;  // the outcomes told

 private:
  std::string user_, password_;
  bool alwaysNeeded_;
};
