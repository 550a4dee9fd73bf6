// Misbehaviour on request: /sim/fault for plain answers and for the server-push stream.
#include "CamsimProcess.h"
#include "StreamCapture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <thread>

namespace {

const char* kRead = "/control/control?read&section=jpeg&quality";

class CamsimFault : public ::testing::Test {
 protected:
  // A clean exit also means no sanitizer report inside the simulator.
  void TearDown() override { EXPECT_EQ(camsim_.stop(), 0); }

  StreamCapture stream(std::size_t parts, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    return captureStream(camsim_.httpPort(), "/control/faststream.jpg?stream=full&fps=0", parts, "", deadline);
  }

  CamsimProcess camsim_{{"--picture", "320x180"}};
};

TEST_F(CamsimFault, StatusWithCountOneThenNormalAnswers) {
  camsim_.fault("path=/control/control&status=500&count=1");
  const CamsimProcess::Answer failed = camsim_.request(kRead);
  EXPECT_EQ(failed.status, 500);
  EXPECT_EQ(failed.body, "Error\r\n");
  EXPECT_EQ(camsim_.request(kRead).body, "quality=80\r\n");
  // Paths outside the prefix are never touched.
  camsim_.fault("path=/admin&status=503");
  EXPECT_EQ(camsim_.request(kRead).status, 200);
  EXPECT_EQ(camsim_.request("/admin/rcontrol").status, 503);
  camsim_.fault("clear=1");
  EXPECT_EQ(camsim_.request("/admin/rcontrol").status, 200);
}

// Each one-shot fault on a plain answer, and the normal answer right after it.
TEST_F(CamsimFault, OneShotAnswerFaultsThenNormalAnswers) {
  const struct {
    const char* fault;
    int status;            // 0: no status line
    const char* headPart;  // in the head, or "" for any
    const char* body;      // exact, or null for any
  } cases[] = {
      {"status=302", 302, "Location: /", nullptr},
      {"status=304", 304, "", ""},
      {"empty=1", 200, "", ""},
      {"close=1", 0, "", ""},
      {"garbage=1", 0, "GARBAGE", ""},
      {"delay_ms=50", 200, "", "quality=80\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    camsim_.fault(std::string(c.fault) + "&count=1");
    const CamsimProcess::Answer faulty = camsim_.request(kRead);
    EXPECT_EQ(faulty.status, c.status);
    EXPECT_NE(faulty.head.find(c.headPart), std::string::npos) << faulty.head;
    if (c.body) {
      EXPECT_EQ(faulty.body, c.body);
    }
    EXPECT_EQ(camsim_.get(kRead), "quality=80\r\n");
  }
  EXPECT_NE(camsim_.get("/sim/requests").find("\"status\":0"), std::string::npos) << "closed answers log 0";

  camsim_.fault("path=/control/control&delay_ms=600000&count=1");
  EXPECT_THROW(camsim_.request(kRead, "", std::chrono::seconds(1)), std::runtime_error) << "held past the deadline";
  camsim_.fault("stall_after_head=1&count=1");
  const OpenStream stalled(camsim_.httpPort(), kRead);
  EXPECT_NE(stalled.firstBytes().find("Content-Length: 1000\r\n"), std::string::npos) << stalled.firstBytes();
  EXPECT_EQ(camsim_.get(kRead), "quality=80\r\n");
}

TEST_F(CamsimFault, BadParametersAreRefusedWithAReason) {
  EXPECT_EQ(camsim_.request("/sim/fault?path=/control").status, 400) << "no action";
  EXPECT_EQ(camsim_.request("/sim/fault?status=abc").status, 400);
  EXPECT_EQ(camsim_.request("/sim/fault?status=500&empty=1").status, 400) << "two actions";
  const CamsimProcess::Answer unknown = camsim_.request("/sim/fault?explode=1");
  EXPECT_EQ(unknown.status, 400);
  EXPECT_NE(unknown.body.find("explode"), std::string::npos);
  EXPECT_EQ(camsim_.request("/sim/fault?path=/sim&status=500").status, 400);
  EXPECT_EQ(camsim_.request(kRead).status, 200) << "nothing was installed";
}

TEST_F(CamsimFault, StreamDropsAfterTheAskedNumberOfPictures) {
  camsim_.fault("drop_after_parts=3&count=1");
  const StreamCapture dropped = stream(10);
  EXPECT_EQ(dropped.error, "");
  EXPECT_TRUE(dropped.closedByServer);
  EXPECT_EQ(dropped.pictures.size(), 3u);
  const StreamCapture normal = stream(4);
  EXPECT_EQ(normal.error, "");
  EXPECT_EQ(normal.pictures.size(), 4u);
}

TEST_F(CamsimFault, StreamGarbagePartAndMissingEndOfPicture) {
  camsim_.fault("path=/control/faststream.jpg&garbage_part=2&count=1");
  const StreamCapture garbage = stream(3);
  ASSERT_EQ(garbage.error, "");
  ASSERT_EQ(garbage.pictures.size(), 3u);
  EXPECT_EQ(garbage.pictures[0].compare(0, 2, "\xFF\xD8"), 0);
  EXPECT_NE(garbage.pictures[1].compare(0, 2, "\xFF\xD8"), 0) << "part 2 is random bytes";
  EXPECT_EQ(garbage.pictures[2].compare(0, 2, "\xFF\xD8"), 0) << "the stream goes on";

  camsim_.fault("no_eoi=1&count=1");
  const StreamCapture cut = stream(2);
  ASSERT_EQ(cut.pictures.size(), 2u);
  EXPECT_NE(cut.pictures[0].substr(cut.pictures[0].size() - 2), "\xFF\xD9");
  EXPECT_EQ(cut.pictures[1].substr(cut.pictures[1].size() - 2), "\xFF\xD9");
}

TEST_F(CamsimFault, StreamStallAndEndlessPartKeepSendingNothingUseful) {
  camsim_.fault("stall_after_parts=1&count=1");
  const StreamCapture stalled = stream(2, std::chrono::milliseconds(800));
  EXPECT_EQ(stalled.pictures.size(), 1u);
  EXPECT_FALSE(stalled.closedByServer);

  camsim_.fault("endless_part=1&count=1");
  const StreamCapture endless = stream(1);
  EXPECT_NE(endless.error, "") << "the endless part has no length and never reaches a boundary";
  EXPECT_TRUE(endless.pictures.empty());
}

// running=1: the fault reaches the stream that runs when it is installed (without it, the
// stream's next reconnect would meet it); the request log counts the pictures each stream sent.
TEST_F(CamsimFault, ARunningFaultReachesTheStreamThatRunsAlready) {
  StreamCapture running;
  std::thread reader([&] { running = stream(1000, std::chrono::seconds(30)); });
  const auto picturesSent = [&] {
    std::istringstream log(camsim_.get("/sim/requests"));
    for (std::string line; std::getline(log, line);) {
      const auto entry = nlohmann::json::parse(line);
      if (entry["target"].get<std::string>().rfind("/control/faststream.jpg", 0) == 0)
        return entry.value("pictures", size_t{0});
    }
    return size_t{0};
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (picturesSent() < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling the log, not synchronising
  const size_t before = picturesSent();
  camsim_.fault("path=/control/faststream.jpg&running=1&count=1&drop_after_parts=2");
  reader.join();
  EXPECT_EQ(running.error, "");
  EXPECT_TRUE(running.closedByServer) << "the fault installed while the stream ran ended it";
  EXPECT_GE(before, 3u);
  EXPECT_LE(running.pictures.size(), before + 3);
  EXPECT_EQ(picturesSent(), running.pictures.size());
  EXPECT_EQ(camsim_.request("/sim/fault?close=1&running=1").status, 400) << "running=1 is for stream actions";
}

}  // namespace
