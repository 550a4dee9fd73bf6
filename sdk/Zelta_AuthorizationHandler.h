// Credentials and the outcome of authorisation, supplied by the SDK's owner (the driver).
// Called on the SDK's thread while it builds a request or analyses a 401 answer.
#pragma once

#include <cstddef>
#include <string>

namespace Zelta {

class Zelta_AuthorizationHandler {
 public:
  virtual ~Zelta_AuthorizationHandler() = default;
  // Write a NUL-terminated text of at most size - 1 characters; false when there is none.
  virtual bool getUserName(char* buffer, size_t size) = 0;
  virtual bool getPassword(char* buffer, size_t size) = 0;
  virtual bool needsAuthorization(const char* host) = 0;
  virtual void authenticationFailed() = 0;
  virtual void connectionAborted() = 0;
  virtual int maxAuthorizationAttempts() = 0;
  virtual bool reconnectAfterAuthFailure() = 0;
  // The owner's own Authorization value for `method` on `uri` (Digest, say; "" for none): true
  // when it builds the header itself, false (the default) to let the SDK send Basic.
  virtual bool authorization(const char* method, const char* uri, std::string& value) {
    (void)method;
    (void)uri;
    (void)value;
    return false;
  }
  // The head of a 401 answer, so that the owner can take the camera's challenges; once per 401.
  virtual void challenged(const char* answerHead) { (void)answerHead; }
};

}  // namespace Zelta
