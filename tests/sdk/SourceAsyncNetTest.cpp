// The network source's status machine and callbacks over a scripted connection: the states it
// passes through (and tells the connection), the refused change from Closed, sending with retries.
#include "Zelta_SourceAsyncNet.h"

#include <gtest/gtest.h>

#include "PrintCapture.h"
#include "ScriptedConnection.h"

using namespace Zelta;

namespace {

// Exposes the status setter and records the hooks.
class ProbeSource : public Zelta_SourceAsyncNet {
 public:
  using Zelta_SourceAsyncNet::setStatus;
  using Zelta_SourceAsyncNet::Zelta_SourceAsyncNet;
  std::vector<std::string> hooks;

 protected:
  void onConnectionOpened() override { hooks.push_back("opened"); }
  void onDataAvailable(int) override { hooks.push_back("data"); }
  void onClosed(int) override { hooks.push_back("closed"); }
};

struct Fixture {
  std::shared_ptr<ScriptedConnection> connection = std::make_shared<ScriptedConnection>();
  ProbeSource source{connection};
  Fixture() {
    source.setHost("cam");
    source.setPort(80);
  }
};

}  // namespace

TEST(SourceAsyncNet, ConnectStepAndCloseWalkTheStatesAndTellTheConnection) {
  PrintCapture capture;
  Fixture f;
  EXPECT_EQ(f.source.getStatus(), eNetStatus_Closed);
  EXPECT_EQ(f.source.connect_remote(), 1);
  EXPECT_EQ(f.source.getStatus(), eNetStatus_Connected) << "the ready callback runs inside the connect";
  Zelta_SourceAsyncNet::async_network_loop(&f.source);
  EXPECT_TRUE(f.source.dataPending());
  EXPECT_EQ(f.source.close_remote(false), 1);
  EXPECT_EQ(f.source.getStatus(), eNetStatus_Closed);
  EXPECT_FALSE(f.source.dataPending());
  EXPECT_EQ(f.source.hooks, (std::vector<std::string>{"opened", "data", "closed"}));
  // opening 2, open 3 (Open and Connected share it), closing 0, closed 1
  EXPECT_EQ(f.connection->states, (std::vector<int>{2, 3, 0, 1}));
  // Connecting an open source closes its socket first.
  EXPECT_EQ(f.source.connect_remote(), 1);
  EXPECT_EQ(f.source.connect_remote(), 1);
  EXPECT_EQ(std::make_pair(f.connection->connects, f.connection->closes), std::make_pair(3, 2));
}

TEST(SourceAsyncNet, ClosedMayOnlyBecomeOpeningOrOpen) {
  PrintCapture capture;
  Fixture f;
  for (const int refused : {eNetStatus_Closing, eNetStatus_Connected, eNetStatus_Error}) {
    f.source.setStatus(refused);
    EXPECT_EQ(f.source.getStatus(), eNetStatus_Closed) << refused;
  }
  EXPECT_EQ(capture.count("inconsistent network status change, status \"closed\" may only change to \"opening\" or "
                          "\"open\", keeping status \"closed\""),
            3u);
  EXPECT_TRUE(f.connection->states.empty());
  f.source.setStatus(eNetStatus_Opening);
  f.source.setStatus(eNetStatus_Opening);  // the same value again: nothing
  EXPECT_EQ(f.connection->states, (std::vector<int>{2}));
  // The loop steps an Opening source to Open and then opens it.
  Zelta_SourceAsyncNet::async_network_loop(&f.source);
  EXPECT_EQ(f.source.getStatus(), eNetStatus_Open);
}

// A failed connect, and a send failing a sixth time in a row (five failures are retried), end in
// Error, where the loop stays idle until a new connect; without a connection nothing is sent.
TEST(SourceAsyncNet, FailuresEndInErrorWhereTheLoopStaysIdle) {
  for (const bool connectFails : {true, false}) {
    SCOPED_TRACE(connectFails ? "connect" : "send");
    PrintCapture capture;
    Fixture f;
    f.connection->failConnect = connectFails;
    if (connectFails) {
      EXPECT_EQ(f.source.connect_remote(), -1);
      EXPECT_TRUE(capture.has("connection to cam NOT established"));
      EXPECT_TRUE(capture.has("Error 0 during network operation  Connection failed"));
    } else {
      EXPECT_EQ(f.source.sendMessage("{\"method\":\"live\"}", 18), eSend_NotConnected);
      EXPECT_TRUE(capture.has("ERROR: connection status is 0, cannot send data:\n{\"method\":\"live\"}"));
      f.source.connect_remote();
      f.connection->sendFailures = 5;
      EXPECT_EQ(f.source.sendMessage("abc", 4), eSend_Ok);
      EXPECT_EQ(f.connection->sentBytes, std::string("abc\0", 4));
      f.connection->sendFailures = 6;
      EXPECT_EQ(f.source.sendMessage("cmd", 4), eSend_Failed);
      EXPECT_EQ(capture.count("Can't send query, retry"), 10u);
      EXPECT_TRUE(capture.has("Failed to send data, closing connection"));
      EXPECT_TRUE(capture.has("Error 0 during network operation  Failed to send data"));
    }
    EXPECT_EQ(f.source.getStatus(), eNetStatus_Error);
    EXPECT_EQ(f.connection->states.back(), 4);
    const size_t hooks = f.source.hooks.size();
    Zelta_SourceAsyncNet::async_network_loop(&f.source);
    EXPECT_EQ(f.source.hooks.size(), hooks);
    f.connection->failConnect = false;
    EXPECT_EQ(f.source.connect_remote(), 1) << "only a new connect leaves Error";
    EXPECT_EQ(f.source.getStatus(), eNetStatus_Connected);
  }
}
