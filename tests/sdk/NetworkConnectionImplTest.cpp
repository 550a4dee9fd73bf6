// The plain-TCP connection on loopback (the SDK over it end to end: SdkMainTest): names and both
// address families, refused, unanswered and hung connects, full sends, descriptors above select's limit.
#include "Zelta_NetworkConnectionImpl.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <netdb.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "SdkTestDoubles.h"

using namespace Zelta;

namespace {

// A listening socket on the loopback address of the family; -1 when the family is unavailable.
int listenOn(int family, int backlog, uint16_t& port) {
  const int fd = ::socket(family, SOCK_STREAM, 0);
  sockaddr_in6 v6{AF_INET6, 0, 0, in6addr_loopback, 0};
  sockaddr_in v4{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  auto* address = family == AF_INET6 ? reinterpret_cast<sockaddr*>(&v6) : reinterpret_cast<sockaddr*>(&v4);
  socklen_t length = family == AF_INET6 ? sizeof v6 : sizeof v4;
  if (fd < 0 || ::bind(fd, address, length) != 0 || ::listen(fd, backlog) != 0 || getsockname(fd, address, &length)) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  port = ntohs(family == AF_INET6 ? v6.sin6_port : v4.sin_port);
  return fd;
}

}  // namespace

// Names and both address families connect; once nothing listens, the connect is refused without a
// ready callback.
TEST(NetworkConnectionImpl, ResolvesNamesAndBothAddressFamiliesAndReportsRefusals) {
  for (const auto& [family, host] :
       std::vector<std::pair<int, const char*>>{{AF_INET, "127.0.0.1"}, {AF_INET, "localhost"}, {AF_INET6, "::1"}}) {
    uint16_t port = 0;
    const int listener = listenOn(family, 4, port);
    if (listener < 0) continue;  // no loopback of this family here
    PrintCapture capture;
    Zelta_NetworkConnectionImpl connection;
    std::pair<std::vector<int>, std::vector<int>> calls;  // the sockets of the ready and closed callbacks
    using Calls = decltype(calls);
    connection.setCallbacks(
        {.connectionReady = [](int socket, void* user) { static_cast<Calls*>(user)->first.push_back(socket); },
         .connectionClosed = [](int socket, void* user) { static_cast<Calls*>(user)->second.push_back(socket); },
         .user = &calls});
    int socket = 0;
    EXPECT_EQ(connection.setupConnectionToRemoteHost(host, port, false, &socket), kNetworkSuccess) << host;
    EXPECT_GT(socket, 0) << host;
    EXPECT_EQ(connection.closeConnection(socket), kNetworkSuccess);
    EXPECT_EQ(calls, Calls({socket}, {socket})) << host;
    ::close(listener);
    socket = 0;
    EXPECT_EQ(connection.setupConnectionToRemoteHost(host, port, false, &socket), kNetworkError) << host;
    EXPECT_EQ(socket, 0) << host;
    EXPECT_EQ(calls.first.size(), 1u) << host;
    EXPECT_TRUE(capture.has("Connection failed: 111")) << host;
  }
}

// A camera that never answers the connect: the attempt ends at the connect time-out instead of
// blocking the SDK's thread for the system's minutes.
TEST(NetworkConnectionImpl, UnansweredConnectEndsAtTheTimeOut) {
  uint16_t port = 0;
  const int listener = listenOn(AF_INET, 0, port);
  ASSERT_GE(listener, 0);
  // Fill the accept queue: later connection requests are not answered.
  std::vector<int> fillers;
  Zelta_NetworkConnectionImpl connection(std::chrono::milliseconds(200));
  for (int i = 0; i < 8; ++i) {
    int socket = 0;
    if (connection.setupConnectionToRemoteHost("127.0.0.1", port, false, &socket) != kNetworkSuccess) break;
    fillers.push_back(socket);
  }
  PrintCapture capture;
  int socket = 0;
  EXPECT_EQ(connection.setupConnectionToRemoteHost("127.0.0.1", port, false, &socket), kNetworkError);
  EXPECT_TRUE(capture.has("Connection failed: 110")) << "ETIMEDOUT";
  for (const int fd : fillers) ::close(fd);
  ::close(listener);
}

// A name server that does not answer: the connect gives the name up at its time-out, or at once
// when its owner abandons it (stopping), while the lookup is still pending.
TEST(NetworkConnectionImpl, AHungNameLookupDoesNotHoldTheConnect) {
  struct Lookup {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    int returned = 0;
  };
  auto lookup = std::make_shared<Lookup>();
  const auto hungResolver = [lookup](const char*, const char*, const addrinfo*, addrinfo** out) {
    std::unique_lock<std::mutex> lock(lookup->mutex);
    lookup->changed.wait(lock, [&] { return lookup->released; });
    *out = nullptr;
    ++lookup->returned;
    lookup->changed.notify_all();
    return EAI_AGAIN;
  };
  using Case = std::pair<std::chrono::milliseconds, bool>;  // time-out, abandoned
  for (const auto& [timeout, abandon] :
       {Case{std::chrono::milliseconds(200), false}, Case{std::chrono::hours(1), true}}) {
    PrintCapture capture;
    Zelta_NetworkConnectionImpl connection(
        timeout, [abandon = abandon] { return abandon; }, hungResolver);
    int socket = -1;
    EXPECT_EQ(connection.setupConnectionToRemoteHost("camera.example", 80, false, &socket), kNetworkError);
    EXPECT_TRUE(capture.has("Error resolving host camera.example"));
  }
  std::unique_lock<std::mutex> lock(lookup->mutex);
  EXPECT_EQ(lookup->returned, 0) << "both connects returned while their lookups were pending";
  lookup->released = true;
  lookup->changed.notify_all();
  EXPECT_TRUE(lookup->changed.wait_for(lock, std::chrono::seconds(10), [&] { return lookup->returned == 2; }));
}

// Descriptors of 1024 and above (select() cannot wait on them; many cameras need them); a camera
// that reads nothing fills the send buffer: the send reports what went out instead of blocking.
TEST(NetworkConnectionImpl, WaitsOnAHighDescriptorAndAFullSendBufferEndsTheSend) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_max < 1100) GTEST_SKIP() << "descriptor limit too low";
  const rlimit raised{std::max<rlim_t>(limit.rlim_cur, 1100), limit.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  const int high = 1090;
  ASSERT_EQ(dup2(pair[0], high), high);
  Zelta_NetworkConnectionImpl connection;
  uint8_t buffer[16];
  size_t received = 99;
  EXPECT_EQ(connection.receiveData(high, buffer, sizeof buffer, &received), kNetworkNothingReceived);
  EXPECT_EQ(received, 0u);
  ASSERT_EQ(::write(pair[1], "abc", 3), 3);
  EXPECT_EQ(connection.receiveData(high, buffer, sizeof buffer, &received), kNetworkSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), received), "abc");
  int sent = 0;
  EXPECT_EQ(connection.sendData(high, reinterpret_cast<const uint8_t*>("xy"), 2, &sent), kNetworkSuccess);
  EXPECT_EQ(sent, 2);
  const std::vector<uint8_t> data(64 << 20, 'a');
  EXPECT_EQ(connection.sendData(high, data.data(), data.size(), &sent), kNetworkError);
  EXPECT_TRUE(sent > 0 && static_cast<size_t>(sent) < data.size()) << sent;
  ::close(pair[1]);
  EXPECT_EQ(connection.receiveData(high, buffer, sizeof buffer, &received), kNetworkError) << "end of data";
  ::close(high);
  ::close(pair[0]);
  setrlimit(RLIMIT_NOFILE, &limit);
}
