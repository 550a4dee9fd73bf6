// Credentials and the outcome of authorisation, supplied by the SDK's owner (the driver).
// Called on the SDK's thread while it builds a request or analyses a 401 answer.
#pragma once

#include <cstddef>

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
};

}  // namespace Zelta
