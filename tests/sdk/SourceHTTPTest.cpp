// The network source's states over a scripted connection, and the HTTP layer on it: URLs, the exact
// request texts with Basic authorisation, the 401 handling with its attempt count.
#include "Zelta_SourceAsyncNet.h"
#include "Zelta_SourceHTTP.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <memory>
#include <tuple>

#include "SdkTestDoubles.h"
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

const std::string kAgent = "User-Agent: zl-client (ES-Client 1.1.0-4)";

std::string postFor(const std::string& path, const std::string& hostName, const std::string& authorization = "") {
  return "POST " + path + " HTTP/1.0\r\nHost: " + hostName + "\r\nConnection: close\r\n" + kAgent + authorization +
         "\r\n\r\n";
}

// Records the hooks.
class ProbeSource : public Zelta_SourceAsyncNet {
 public:
  using Zelta_SourceAsyncNet::Zelta_SourceAsyncNet;
  std::vector<std::string> hooks;
  void onConnectionOpened() override { hooks.push_back("opened"); }
  void onDataAvailable(int) override { hooks.push_back("data"); }
  void onClosed(int) override { hooks.push_back("closed"); }
};

}  // namespace

// A failed connect ends in Error, idle until a new connect; connect, step and close walk the states,
// tell the connection and call the hooks; connecting an open source closes its socket first.
TEST(SourceAsyncNet, ConnectStepAndCloseWalkTheStatesAndTellTheConnection) {
  PrintCapture capture;
  const auto connection = std::make_shared<ScriptedConnection>();
  ProbeSource source(connection);
  source.setHost("cam");
  source.setPort(80);
  EXPECT_EQ(source.getStatus(), eNetStatus_Closed);
  connection->failConnect = true;
  EXPECT_EQ(source.connect_remote(), -1);
  EXPECT_TRUE(capture.has("connection to cam NOT established"));
  EXPECT_TRUE(capture.has("Error 0 during network operation  Connection failed"));
  EXPECT_EQ(source.getStatus(), eNetStatus_Error);
  Zelta_SourceAsyncNet::async_network_loop(&source);
  EXPECT_TRUE(source.hooks.empty()) << "idle in Error";
  connection->failConnect = false;
  EXPECT_EQ(source.connect_remote(), 1) << "only a new connect leaves Error";
  EXPECT_EQ(source.getStatus(), eNetStatus_Connected) << "the ready callback runs inside the connect";
  Zelta_SourceAsyncNet::async_network_loop(&source);
  EXPECT_TRUE(source.dataPending());
  EXPECT_EQ(source.close_remote(false), 1);
  EXPECT_EQ(source.getStatus(), eNetStatus_Closed);
  EXPECT_FALSE(source.dataPending());
  EXPECT_EQ(source.hooks, (std::vector<std::string>{"opened", "data", "closed"}));
  // opening 2, error 4, opening 2, open 3 (Open and Connected share it), closing 0, closed 1
  EXPECT_EQ(connection->states, (std::vector<int>{2, 4, 2, 3, 0, 1}));
  for (int again = 0; again < 2; ++again) EXPECT_EQ(source.connect_remote(), 1);
  EXPECT_EQ(std::make_pair(connection->connects, connection->closes), std::make_pair(4, 2));
}

TEST(SourceHTTP, UrlParsing) {
  const struct {
    std::string url, host, path;
    int port;
    bool secure;
  } cases[] = {
      {"http://cam", "cam", "/", 80, false},
      {"http://cam.example:8080/control/eventstream.jpg", "cam.example", "/control/eventstream.jpg", 8080, false},
      {"https://cam/control/eventstream.jpg", "cam", "/control/eventstream.jpg", 443, true},
      {"http://cam:65537/x", "cam", "/x", 80, false},
      {"http://10.0.0.5/a/b?c=d:e", "10.0.0.5", "/a/b?c=d:e", 80, false},
      {"http://[::1]:8080/control/eventstream.jpg", "::1", "/control/eventstream.jpg", 8080, false},
      {"http://[2001:db8::7]", "2001:db8::7", "/", 80, false},
  };
  PrintCapture capture;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    Zelta_SourceHTTP source(c.url.c_str(), nullptr, std::make_shared<ScriptedConnection>());
    const std::unique_ptr<char, decltype(&std::free)> host(source.getHost(), &std::free);
    EXPECT_EQ(
        std::make_tuple(std::string(host.get()), source.getPort(), std::string(source.getPath()), source.getSecure()),
        std::make_tuple(c.host, c.port, c.path, c.secure));
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

// Credentials of every length modulo 3 and with bytes above 127 (against OpenSSL's encoder); missing
// ones send the request without authorisation, naming what is missing.
TEST(SourceHTTP, RequestTextsWithBasicAuthorisation) {
  const struct {
    bool hasUser, hasPassword;
    std::string password;
    const char* message;  // empty: with credentials
  } cases[] = {{true, true, "p", ""},
               {true, true, "pw", ""},
               {true, true, "pwd", ""},
               {true, true, "secret!", ""},
               {true, true, "s\xC3\xA9sam", ""},
               {true, true, std::string(200, 'x'), ""},
               {false, true, "p", "no user name, cannot add auth header"},
               {true, false, "p", "no password, cannot add auth header"},
               {true, true, "", "cannot add auth header, username or password is empty"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password + c.message);
    PrintCapture capture;
    auto auth = std::make_shared<FakeAuthorization>("admin", c.password, true);
    auth->hasUser = c.hasUser;
    auth->hasPassword = c.hasPassword;
    Zelta_SourceHTTP source("http://cam:8080/control/eventstream.jpg", auth, std::make_shared<ScriptedConnection>());
    const std::string authorization = *c.message ? "" : basic("admin:" + c.password);
    EXPECT_EQ(source.buildPostRequest(), postFor("/control/eventstream.jpg", "cam", authorization));
    EXPECT_EQ(source.buildGetRequest(),
              "GET /control/eventstream.jpg HTTP/1.0\r\nHost: cam\r\n" + kAgent + authorization + "\r\n\r\n");
    EXPECT_EQ(source.authorizationAttempts(), *c.message ? 0 : 2);
    EXPECT_TRUE(!*c.message || capture.has(c.message)) << c.message;
    for (const auto& line : capture.messages()) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
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
  const auto answer = [&](const std::string& bytes) {  // fails, aborts, attempts, connects after reading it
    connection->sentBytes.clear();
    connection->feed(bytes);
    Zelta_SourceAsyncNet::async_network_loop(&source);
    return std::make_tuple(auth->failed, auth->aborted, source.authorizationAttempts(), connection->connects);
  };
  EXPECT_EQ(connection->sentBytes, postFor("/control/eventstream.jpg", "cam")) << "no credentials at first";
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(answer(unauthorised), std::make_tuple(n, 0, n, n + 1));
    EXPECT_EQ(connection->sentBytes, postFor("/control/eventstream.jpg", "cam", basic("admin:secret")))
        << "reconnected with credentials";
  }
  EXPECT_EQ(answer(unauthorised), std::make_tuple(3, 1, 0, 4)) << "no reconnect after giving up";
  EXPECT_EQ(source.getStatus(), eNetStatus_Closed);
  EXPECT_TRUE(capture.has("Authorization required - Connection failed, try reconnecting") &&
              capture.has("auto reconnect active"));

  // Connected again (with credentials at once): a success resets the attempts, and later bytes that
  // look like an answer head are not taken for one.
  EXPECT_EQ(source.connect_remote(), 1);
  EXPECT_EQ(source.authorizationAttempts(), 1);
  EXPECT_EQ(answer(unauthorised), std::make_tuple(4, 1, 2, 6));
  EXPECT_EQ(answer("HTTP/1.0 200 OK\r\n\r\n"), std::make_tuple(4, 1, 0, 6));
  EXPECT_EQ(source.getStatus(), eNetStatus_Connected);
  EXPECT_EQ(answer(unauthorised), std::make_tuple(4, 1, 0, 6));
}
