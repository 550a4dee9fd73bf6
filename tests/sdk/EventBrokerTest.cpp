// The command broker over a fake control side: commands wait for the camera's greeting and then go
// out one per step in order, answers reach the listener with their id, a lost connection drops the
// queue. SdkMainTest runs it end to end through the event-stream source.
#include "Zelta_EventBroker.h"

#include <gtest/gtest.h>

#include <deque>

#include "PrintCapture.h"
#include "StreamBuilder.h"
#include "Zelta_Buffer.h"

using namespace Zelta;
namespace sb = streambuilder;

namespace {

class RecordingListener : public Zelta_EventNotificationListener {
 public:
  void notifyEvent(int32_t id, const char* text) override { events.emplace_back(id, text); }
  std::vector<std::pair<int32_t, std::string>> events;
};

// A control side with queued segments and a send result of the test's choosing.
class FakeEventSource : public Zelta_EventSource {
 public:
  void receive(const std::string& segment) { segments.push_back(segment); }
  int readControl(Zelta_Buffer*) override { return 1; }
  std::unique_ptr<Zelta_Buffer> takeControlSegment() override {
    if (segments.empty()) return nullptr;
    auto buffer = std::make_unique<Zelta_Buffer>(segments.front().size());
    buffer->write(reinterpret_cast<const uint8_t*>(segments.front().data()), segments.front().size());
    segments.pop_front();
    return buffer;
  }
  size_t queuedControlBytes() const override { return 0; }
  eSendStatus sendCommand(const char* data, size_t length) override {
    if (result == eSend_Ok) sent.emplace_back(data, length);
    return result;
  }
  std::deque<std::string> segments;
  std::vector<std::string> sent;
  eSendStatus result = eSend_Ok;
};

std::string wire(const std::string& text) { return text + std::string(1, '\0'); }

class EventBrokerTest : public testing::Test {
 protected:
  PrintCapture capture;
  std::shared_ptr<FakeEventSource> source = std::make_shared<FakeEventSource>();
  std::shared_ptr<RecordingListener> listener = std::make_shared<RecordingListener>();
  Zelta_EventBroker broker{source, listener};
};

}  // namespace

TEST_F(EventBrokerTest, CommandsWaitForTheGreetingThenGoOneByOneInOrder) {
  EXPECT_EQ(broker.sendCommand(Zelta_EventBroker::kVideoEnable, "true"), 2) << "the first id is 2";
  EXPECT_EQ(broker.sendCommand(Zelta_EventBroker::kSetThermalRaw, "true"), 3);
  EXPECT_EQ(broker.sendCommand(Zelta_EventBroker::kLive, ""), 4);
  source->receive(sb::control("{\"id\":5,\"result\":true}"));  // an answer is no greeting
  broker.processControls();
  broker.processControls();
  EXPECT_FALSE(broker.ready());
  EXPECT_TRUE(source->sent.empty()) << "not ready before the camera greets";
  source->receive(sb::control("{\"method\":\"eventstream\",\"params\":{\"version\":1}}"));
  broker.processControls();  // reads the greeting
  EXPECT_TRUE(broker.ready());
  EXPECT_TRUE(source->sent.empty());
  for (size_t step = 1; step <= 3; ++step) {
    broker.processControls();
    EXPECT_EQ(source->sent.size(), step) << "one command per step";
  }
  EXPECT_EQ(source->sent, (std::vector<std::string>{
                              wire("{\"method\":\"video_enable\",\"id\":2,\"params\":[true]}"),
                              wire("{\"method\":\"setThermalRaw\",\"id\":3,\"params\":[true]}"),
                              wire("{\"method\":\"live\",\"id\":4,\"params\":[]}"),
                          }));
  EXPECT_EQ(listener->events,
            (std::vector<std::pair<int32_t, std::string>>{
                {5, "{\"id\":5,\"result\":true}"}, {-1, "{\"method\":\"eventstream\",\"params\":{\"version\":1}}"}}));
}

// Answers and events reach the listener with their ids; ids the camera never sent (a key ending in
// "id", a number out of range, text past the zero byte) give -1. Id 0 greets too.
TEST_F(EventBrokerTest, AnswersReachTheListenerWithTheirIds) {
  for (const std::string& text :
       {std::string("{\"id\":0,\"result\":\"ok\"}"), std::string("{\"id\": 5,\"result\":true}\0\0", 26),
        std::string("{\"event\":\"motion\"}"), std::string(), std::string("{\"id\": -3}"),
        std::string("{\"id\":99999999999}"), std::string("{\"uid\":7,\"id\":8}"), std::string("{\"x\0\"id\":5}", 11)})
    source->receive(sb::control(text));
  broker.processControls();
  EXPECT_TRUE(broker.ready());
  EXPECT_EQ(listener->events, (std::vector<std::pair<int32_t, std::string>>{{0, "{\"id\":0,\"result\":\"ok\"}"},
                                                                            {5, "{\"id\": 5,\"result\":true}"},
                                                                            {-1, "{\"event\":\"motion\"}"},
                                                                            {-1, ""},
                                                                            {-3, "{\"id\": -3}"},
                                                                            {-1, "{\"id\":99999999999}"},
                                                                            {8, "{\"uid\":7,\"id\":8}"},
                                                                            {-1, "{\"x"}}));
}

TEST_F(EventBrokerTest, LostConnectionDropsTheQueueUntilTheCameraGreetsAgain) {
  source->receive(sb::control("{\"eventstream\":1}"));
  broker.processControls();
  broker.sendCommand(Zelta_EventBroker::kLive, "");
  broker.sendCommand(Zelta_EventBroker::kPause, "");
  source->result = eSend_Failed;
  broker.processControls();
  EXPECT_EQ(broker.pendingCommands(), 2u) << "other failures are retried";
  source->result = eSend_NotConnected;
  broker.processControls();
  EXPECT_EQ(broker.pendingCommands(), 0u);
  EXPECT_FALSE(broker.ready());
  EXPECT_TRUE(
      capture.has("failed to send commands, connection lost? dropping command queue! you need to reconnect "
                  "before queuing new commands"));
}

TEST_F(EventBrokerTest, UnknownMethodIsRefusedAndEventsWithoutListenerDropped) {
  EXPECT_EQ(broker.sendCommand(Zelta_EventBroker::kMethodCount, "x"), 0);
  EXPECT_TRUE(capture.has("Invalid option at index 19"));
  EXPECT_EQ(broker.pendingCommands(), 0u);
  Zelta_EventBroker unheard(source, nullptr);
  source->receive(sb::control("{\"eventstream\":1}"));
  unheard.processControls();
  EXPECT_TRUE(capture.has("no notification listener, dropping event information for -1: {\"eventstream\":1}"));
}
