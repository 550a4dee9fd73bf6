// The HTTP layer of the event-stream connection: parses the stream URL, writes the GET or POST
// request head with the SDK's user agent and Basic authorisation, and reacts to the camera's
// answer status (a 401 asks the authorisation handler and closes or gives up).
// Single-threaded like its base.
#pragma once

#include <memory>
#include <string>

#include "Zelta_AuthorizationHandler.h"
#include "Zelta_SourceAsyncNet.h"

namespace Zelta {

class Zelta_SourceHTTP : public Zelta_SourceAsyncNet {
 public:
  static constexpr const char* kUserAgent = "zl-client (ES-Client 1.1.0-4)";

  // A private copy of an answer head and its status code (0 when no status line was found).
  class Zelta_HTTP_Header {
   public:
    Zelta_HTTP_Header(const uint8_t* data, size_t length);
    Zelta_HTTP_Header(const Zelta_HTTP_Header& other);
    Zelta_HTTP_Header& operator=(const Zelta_HTTP_Header&) = delete;
    virtual ~Zelta_HTTP_Header();
    int status() const { return m_status; }
    const char* text() const { return m_header; }

   private:
    void parseStatus();
    char* m_header = nullptr;
    int m_status = 0;
  };

  // Throws the precondition error when the URL cannot be parsed.
  Zelta_SourceHTTP(std::string url, std::shared_ptr<Zelta_AuthorizationHandler> authHandler,
                   std::shared_ptr<Zelta_NetworkConnection> connection);
  ~Zelta_SourceHTTP() override;

  // 1, or -1 for a URL that is neither http:// nor https:// with a host. The host may be an
  // IPv6 literal in brackets ("http://[::1]:8080/..."), stored without them.
  int parseUrl(std::string url);
  const char* getPath() const { return m_path.c_str(); }

  std::string buildGetRequest();
  std::string buildPostRequest();
  // 1 once the request was handed to sendMessage, -1 without a connection.
  int sendGetRequest();
  int sendPostRequest();

  // Analyses an answer head; returns its status code.
  int analyseHeader(const uint8_t* data, size_t length);
  // Looks for an answer head in received bytes while a request is outstanding.
  void checkResponse(const uint8_t* data, size_t length);

  int outstandingRequests() const { return m_outstandingRequests; }
  int authorizationAttempts() const { return m_authAttempts; }
  bool credentialsRequired() const { return m_credentialsRequired; }

 private:
  std::string authorizationPart(const char* method);
  std::string hostHeaderName();
  int sendRequest(const std::string& request, const char* kind);

  std::string m_path;
  int m_outstandingRequests = 0;
  std::shared_ptr<Zelta_AuthorizationHandler> m_authHandler;
  bool m_credentialsRequired = false;
  int m_authAttempts = 0;
};

}  // namespace Zelta
