// Misbehaviour on request: /sim/fault for plain answers and for the server-push stream.
#include "CamsimProcess.h"
#include "Curl.h"
#include "StreamCapture.h"

#include <gtest/gtest.h>

namespace {

constexpr int kCurlTimedOut = 28;
constexpr int kCurlEmptyReply = 52;
const char* kRead = "/control/control?read&section=jpeg&quality";

class CamsimFault : public ::testing::Test {
 protected:
  // A clean exit also means no sanitizer report inside the simulator.
  void TearDown() override { EXPECT_EQ(camsim_.stop(), 0); }

  std::string url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(camsim_.httpPort()) + target;
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

TEST_F(CamsimFault, RedirectCarriesLocationAndNotModifiedHasNoBody) {
  camsim_.fault("status=302&count=1");
  const CamsimProcess::Answer moved = camsim_.request(kRead);
  EXPECT_EQ(moved.status, 302);
  EXPECT_NE(moved.head.find("Location: /"), std::string::npos) << moved.head;
  EXPECT_FALSE(moved.body.empty());
  camsim_.fault("status=304&count=1");
  const CamsimProcess::Answer same = camsim_.request(kRead);
  EXPECT_EQ(same.status, 304);
  EXPECT_EQ(same.body, "");
}

TEST_F(CamsimFault, EmptyCloseAndGarbageAnswers) {
  camsim_.fault("empty=1&count=1");
  const CamsimProcess::Answer empty = camsim_.request(kRead);
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(empty.body, "");

  camsim_.fault("close=1&count=1");
  EXPECT_EQ(runCurl({url(kRead)}).exitCode, kCurlEmptyReply);

  camsim_.fault("garbage=1&count=1");
  const CamsimProcess::Answer garbage = camsim_.request(kRead);
  EXPECT_EQ(garbage.status, 0);
  EXPECT_EQ(garbage.head, "GARBAGE");

  EXPECT_EQ(camsim_.request(kRead).body, "quality=80\r\n");
  const std::vector<std::string> targets = camsim_.requestTargets();
  EXPECT_EQ(targets.size(), 4u);
  EXPECT_NE(camsim_.get("/sim/requests").find("\"status\":0"), std::string::npos) << "closed answers log 0";
}

TEST_F(CamsimFault, DelayHoldsTheAnswerOnceThenAnswersNormally) {
  camsim_.fault("path=/control/control&delay_ms=600000&count=1");
  // The delayed answer does not come while curl waits a second...
  EXPECT_EQ(runCurl({"--max-time", "1", url(kRead)}).exitCode, kCurlTimedOut);
  // ...and the fault is used up: the next request is answered at once.
  const CurlResult next = runCurl({url(kRead)});
  EXPECT_EQ(next.status, 200);
  EXPECT_EQ(next.body, "quality=80\r\n");
  // A short delay still ends in the normal answer.
  camsim_.fault("delay_ms=50&count=1");
  EXPECT_EQ(runCurl({url(kRead)}).body, "quality=80\r\n");
}

TEST_F(CamsimFault, StallAfterHeadSendsTheHeadOnly) {
  camsim_.fault("stall_after_head=1&count=1");
  const CurlResult stalled = runCurl({"--max-time", "1", url(kRead)});
  EXPECT_EQ(stalled.exitCode, kCurlTimedOut);
  EXPECT_NE(stalled.head.find("Content-Length: 1000"), std::string::npos) << stalled.head;
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
  const StreamCapture dropped = captureStream(camsim_.httpPort(), "/control/faststream.jpg?stream=full&fps=0", 10);
  EXPECT_EQ(dropped.error, "");
  EXPECT_TRUE(dropped.closedByServer);
  EXPECT_EQ(dropped.pictures.size(), 3u);
  const StreamCapture normal = captureStream(camsim_.httpPort(), "/control/faststream.jpg?stream=full&fps=0", 4);
  EXPECT_EQ(normal.error, "");
  EXPECT_EQ(normal.pictures.size(), 4u);
}

TEST_F(CamsimFault, StreamGarbagePartAndMissingEndOfPicture) {
  camsim_.fault("path=/control/faststream.jpg&garbage_part=2&count=1");
  const StreamCapture garbage = captureStream(camsim_.httpPort(), "/control/faststream.jpg?stream=full&fps=0", 3);
  ASSERT_EQ(garbage.error, "");
  ASSERT_EQ(garbage.pictures.size(), 3u);
  EXPECT_EQ(garbage.pictures[0].compare(0, 2, "\xFF\xD8"), 0);
  EXPECT_NE(garbage.pictures[1].compare(0, 2, "\xFF\xD8"), 0) << "part 2 is random bytes";
  EXPECT_EQ(garbage.pictures[2].compare(0, 2, "\xFF\xD8"), 0) << "the stream goes on";

  camsim_.fault("no_eoi=1&count=1");
  const StreamCapture cut = captureStream(camsim_.httpPort(), "/control/faststream.jpg?stream=full&fps=0", 2);
  ASSERT_EQ(cut.pictures.size(), 2u);
  EXPECT_NE(cut.pictures[0].substr(cut.pictures[0].size() - 2), "\xFF\xD9");
  EXPECT_EQ(cut.pictures[1].substr(cut.pictures[1].size() - 2), "\xFF\xD9");
}

TEST_F(CamsimFault, StreamStallAndEndlessPartKeepSendingNothingUseful) {
  camsim_.fault("stall_after_parts=1&count=1");
  const StreamCapture stalled = captureStream(camsim_.httpPort(), "/control/faststream.jpg?stream=full&fps=0", 2, "",
                                              std::chrono::milliseconds(800));
  EXPECT_EQ(stalled.pictures.size(), 1u);
  EXPECT_FALSE(stalled.closedByServer);

  camsim_.fault("endless_part=1&count=1");
  const StreamCapture endless = captureStream(camsim_.httpPort(), "/control/faststream.jpg?stream=full&fps=0", 1);
  EXPECT_NE(endless.error, "") << "the endless part has no length and never reaches a boundary";
  EXPECT_TRUE(endless.pictures.empty());
}

}  // namespace
