// An authorisation handler for tests: fixed credentials, counts of the outcomes it was told.
#pragma once

#include <cstring>
#include <string>

#include "Zelta_AuthorizationHandler.h"

class FakeAuthorization : public Zelta::Zelta_AuthorizationHandler {
 public:
  FakeAuthorization(std::string user, std::string password, bool alwaysNeeded = false)
      : user_(std::move(user)), password_(std::move(password)), alwaysNeeded_(alwaysNeeded) {}

  bool getUserName(char* buffer, size_t size) override { return copy(user_, hasUser, buffer, size); }
  bool getPassword(char* buffer, size_t size) override { return copy(password_, hasPassword, buffer, size); }
  bool needsAuthorization(const char* host) override { return alwaysNeeded_; }
  void authenticationFailed() override { ++failed; }
  void connectionAborted() override { ++aborted; }
  int maxAuthorizationAttempts() override { return maxAttempts; }
  bool reconnectAfterAuthFailure() override { return reconnect; }

  bool hasUser = true;
  bool hasPassword = true;
  int maxAttempts = 3;
  bool reconnect = true;
  int failed = 0;
  int aborted = 0;

 private:
  static bool copy(const std::string& text, bool present, char* buffer, size_t size) {
    if (!present) return false;
    std::strncpy(buffer, text.c_str(), size);
    return true;
  }
  std::string user_;
  std::string password_;
  bool alwaysNeeded_;
};
