// The HTTP layer: URLs, the exact request texts with Basic authorisation, and the 401 handling
// with its attempt count, driven through the event-stream source over a scripted connection.
#include "Zelta_SourceHTTP.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>

#include "FakeAuthorization.h"
#include "PrintCapture.h"
#include "ScriptedConnection.h"
#include "Zelta_SourceESEventStream.h"

using namespace Zelta;

namespace {

// The header line, with the reference encoding from OpenSSL (the SDK carries its own encoder).
std::string basic(const std::string& plain) {
  std::string out(4 * ((plain.size() + 2) / 3) + 1, '\0');
  out.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                             reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size())));
  return "\r\nAuthorization: Basic " + out;
}

std::string postFor(const std::string& path, const std::string& hostName, const std::string& authorization = "") {
  return "POST " + path + " HTTP/1.0\r\nHost: " + hostName +
         "\r\nConnection: close\r\nUser-Agent: zl-client (ES-Client 1.1.0-4)" + authorization + "\r\n\r\n";
}

}  // namespace

TEST(SourceHTTP, UrlParsing) {
  const struct {
    const char* url;
    const char* host;
    int port;
    const char* path;
    bool secure;
  } cases[] = {
      {"http://cam", "cam", 80, "/", false},
      {"http://cam.example:8080/control/eventstream.jpg", "cam.example", 8080, "/control/eventstream.jpg", false},
      {"https://cam/control/eventstream.jpg", "cam", 443, "/control/eventstream.jpg", true},
      {"http://cam:65537/x", "cam", 80, "/x", false},
      {"http://10.0.0.5/a/b?c=d:e", "10.0.0.5", 80, "/a/b?c=d:e", false},
      {"http://[::1]:8080/control/eventstream.jpg", "::1", 8080, "/control/eventstream.jpg", false},
      {"http://[2001:db8::7]", "2001:db8::7", 80, "/", false},
  };
  PrintCapture capture;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    Zelta_SourceHTTP source(c.url, nullptr, std::make_shared<ScriptedConnection>());
    char* host = source.getHost();
    EXPECT_STREQ(host, c.host);
    std::free(host);
    EXPECT_EQ(source.getPort(), c.port);
    EXPECT_STREQ(source.getPath(), c.path);
    EXPECT_EQ(source.getSecure(), c.secure);
  }
  EXPECT_EQ(Zelta_SourceHTTP("http://[2001:db8::7]:8080/x", nullptr, std::make_shared<ScriptedConnection>())
                .buildPostRequest(),
            postFor("/x", "[2001:db8::7]"))
      << "an IPv6 host keeps its brackets in the Host header";
  for (const char* bad :
       {"ftp://cam/x", "http://", "cam/control", "http://[::1/x", "http://[]:80/", "http://[::1]x/"}) {
    EXPECT_THROW(Zelta_SourceHTTP(bad, nullptr, std::make_shared<ScriptedConnection>()), std::runtime_error) << bad;
    EXPECT_TRUE(capture.has(std::string("Error invalid url: ") + bad)) << bad;
  }
}

TEST(SourceHTTP, RequestTextsWithBasicAuthorisation) {
  PrintCapture capture;
  // Credentials of every length modulo 3 and with bytes above 127, against OpenSSL's encoder.
  for (const std::string& password :
       std::vector<std::string>{"p", "pw", "pwd", "secret!", "s\xC3\xA9sam", std::string(200, 'x')}) {
    Zelta_SourceHTTP source("http://cam:8080/control/eventstream.jpg",
                            std::make_shared<FakeAuthorization>("admin", password, true),
                            std::make_shared<ScriptedConnection>());
    const std::string expectedAuth = basic("admin:" + password);
    EXPECT_EQ(source.buildPostRequest(), postFor("/control/eventstream.jpg", "cam", expectedAuth));
    EXPECT_EQ(source.buildGetRequest(),
              "GET /control/eventstream.jpg HTTP/1.0\r\nHost: cam\r\nUser-Agent: "
              "zl-client (ES-Client 1.1.0-4)" +
                  expectedAuth + "\r\n\r\n");
    EXPECT_EQ(source.authorizationAttempts(), 2);
  }
  for (const auto& line : capture.messages()) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

TEST(SourceHTTP, MissingCredentialsSendTheRequestWithoutAuthorisation) {
  const struct {
    bool hasUser, hasPassword;
    const char* password;
    const char* message;
  } cases[] = {{false, true, "p", "no user name, cannot add auth header"},
               {true, false, "p", "no password, cannot add auth header"},
               {true, true, "", "cannot add auth header, username or password is empty"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    PrintCapture capture;
    auto auth = std::make_shared<FakeAuthorization>("u", c.password, true);
    auth->hasUser = c.hasUser;
    auth->hasPassword = c.hasPassword;
    Zelta_SourceHTTP source("http://cam/x", auth, std::make_shared<ScriptedConnection>());
    EXPECT_EQ(source.buildPostRequest(), postFor("/x", "cam"));
    EXPECT_TRUE(capture.has(c.message));
    EXPECT_EQ(source.authorizationAttempts(), 0);
  }
}

// The camera answers 401 on every connection: the handler hears of each failure while the
// source reconnects with credentials, until the attempts reach the handler's maximum.
TEST(SourceHTTP, UnauthorisedAnswersCountAttemptsUntilAbandonedOrASuccess) {
  PrintCapture capture;
  auto auth = std::make_shared<FakeAuthorization>("admin", "secret", false);
  auto connection = std::make_shared<ScriptedConnection>();
  Zelta_SourceESEventStream source("http://cam/control/eventstream.jpg", auth, connection, nullptr, nullptr);
  const std::string unauthorised = "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n";
  const std::string withAuth = postFor("/control/eventstream.jpg", "cam", basic("admin:secret"));
  EXPECT_EQ(connection->sentBytes, postFor("/control/eventstream.jpg", "cam")) << "no credentials at first";
  for (int answer = 1; answer <= 3; ++answer) {
    connection->sentBytes.clear();
    connection->feed(unauthorised);
    Zelta_SourceAsyncNet::async_network_loop(&source);
    EXPECT_EQ(std::make_tuple(auth->failed, connection->connects, source.authorizationAttempts()),
              std::make_tuple(answer, answer + 1, answer));
    EXPECT_EQ(connection->sentBytes, withAuth) << "reconnected with credentials";
  }
  connection->feed(unauthorised);
  Zelta_SourceAsyncNet::async_network_loop(&source);
  EXPECT_EQ(std::make_tuple(auth->aborted, auth->failed, connection->connects, source.authorizationAttempts()),
            std::make_tuple(1, 3, 4, 0))
      << "no reconnect after giving up";
  EXPECT_EQ(source.getStatus(), eNetStatus_Closed);
  EXPECT_TRUE(capture.has("Authorization required - Connection failed, try reconnecting"));
  EXPECT_TRUE(capture.has("auto reconnect active"));

  // Connected again (with credentials at once): a success resets the attempts, and later bytes that
  // look like an answer head are not taken for one.
  EXPECT_EQ(source.connect_remote(), 1);
  EXPECT_EQ(source.authorizationAttempts(), 1);
  const auto answer = [&](const std::string& bytes) {
    connection->feed(bytes);
    Zelta_SourceAsyncNet::async_network_loop(&source);
  };
  answer(unauthorised);
  EXPECT_EQ(std::make_pair(source.authorizationAttempts(), auth->failed), std::make_pair(2, 4));
  answer("HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(source.authorizationAttempts(), 0);
  EXPECT_EQ(source.getStatus(), eNetStatus_Connected);
  answer(unauthorised);
  EXPECT_EQ(auth->failed, 4);
}
