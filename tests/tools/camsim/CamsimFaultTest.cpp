// Misbehaviour on request: /sim/fault for plain answers and for the server-push stream.
#include "CamsimProcess.h"
#include "StreamCapture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <thread>

namespace {

const char* kRead = "/control/control?read&section=jpeg&quality";

class CamsimFault : public ::testing::Test {
 protected:
  // A clean exit also means no sanitizer report inside the simulator.
  void TearDown() override { EXPECT_EQ(camsim_.stop(), 0); }

  StreamCapture stream(std::size_t parts, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    return captureStream(camsim_.httpPort(), "/control/faststream.jpg?stream=full&fps=0", parts, deadline);
  }

  CamsimProcess camsim_{{"--picture", "320x180"}};
};

// Each one-shot fault on a plain answer, and the normal answer right after it; a fault's path is
// a prefix no other path is touched by.
TEST_F(CamsimFault, OneShotAnswerFaultsThenNormalAnswers) {
  const struct {
    const char* fault;
    int status;            // 0: no status line
    const char* headPart;  // in the head, or "" for any
    const char* body;      // exact, or null for any
  } cases[] = {
      {"path=/control/control&status=500", 500, "", "Error\r\n"},
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
    EXPECT_TRUE(!c.body || faulty.body == c.body) << faulty.body;
    EXPECT_EQ(camsim_.get(kRead), "quality=80\r\n");
  }
  EXPECT_NE(camsim_.get("/sim/requests").find("\"status\":0"), std::string::npos) << "closed answers log 0";

  camsim_.fault("path=/admin&status=503");
  EXPECT_EQ(camsim_.request(kRead).status, 200);
  EXPECT_EQ(camsim_.request("/admin/rcontrol").status, 503);
  camsim_.fault("clear=1");
  EXPECT_EQ(camsim_.request("/admin/rcontrol").status, 200);

  camsim_.fault("path=/control/control&delay_ms=600000&count=1");
  EXPECT_THROW(camsim_.request(kRead, "", std::chrono::seconds(1)), std::runtime_error) << "held past the deadline";
  camsim_.fault("stall_after_head=1&count=1");
  const OpenStream stalled(camsim_.httpPort(), kRead);
  EXPECT_NE(stalled.firstBytes().find("Content-Length: 1000\r\n"), std::string::npos) << stalled.firstBytes();
  EXPECT_EQ(camsim_.get(kRead), "quality=80\r\n");
}

TEST_F(CamsimFault, BadParametersAreRefusedWithAReason) {
  for (const char* bad : {"path=/control" /* no action */, "status=abc", "status=500&empty=1" /* two actions */,
                          "path=/sim&status=500", "close=1&running=1" /* running=1 is for stream actions */})
    EXPECT_EQ(camsim_.request(std::string("/sim/fault?") + bad).status, 400) << bad;
  const CamsimProcess::Answer unknown = camsim_.request("/sim/fault?explode=1");
  EXPECT_EQ(unknown.status, 400);
  EXPECT_NE(unknown.body.find("explode"), std::string::npos);
  EXPECT_EQ(camsim_.request(kRead).status, 200) << "nothing was installed";
}

// Each one-shot stream fault, then a normal stream. The shape tells the parts that came: '+' a
// picture from FF D8 to FF D9, '-' anything else.
TEST_F(CamsimFault, StreamFaultsShapeThePartsThatCome) {
  const struct {
    const char* fault;
    std::size_t asked;
    const char* shape;
    bool closed;  // by the simulator
    bool stalls;  // the stream goes silent: read with a short deadline
  } cases[] = {
      {"drop_after_parts=3&count=1", 10, "+++", true, false},
      {"stall_after_parts=1&count=1", 2, "+", false, true},
      {"path=/control/faststream.jpg&garbage_part=2&count=1", 3, "+-+", false, false},
      {"no_eoi=1&count=1", 2, "-+", false, false},
      {"clear=1", 4, "++++", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    camsim_.fault(c.fault);
    const StreamCapture stream = this->stream(c.asked, std::chrono::milliseconds(c.stalls ? 800 : 10000));
    EXPECT_EQ(stream.error.empty(), !c.stalls) << stream.error;
    std::string shape;
    for (const std::string& picture : stream.pictures)
      shape += picture.rfind("\xFF\xD8", 0) == 0 && picture.substr(picture.size() - 2) == "\xFF\xD9" ? '+' : '-';
    EXPECT_EQ(shape, c.shape);
    EXPECT_EQ(stream.closedByServer, c.closed);
  }
}

// running=1: the fault reaches the stream that runs when it is installed (without it, the
// stream's next reconnect would meet it); the request log counts the pictures each stream sent.
TEST_F(CamsimFault, ARunningFaultReachesTheStreamThatRunsAlready) {
  StreamCapture running;
  std::thread reader([&] { running = stream(1000, std::chrono::seconds(30)); });
  const auto picturesSent = [&] {
    for (const auto& line : splitLines(camsim_.get("/sim/requests"))) {
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
}

}  // namespace
