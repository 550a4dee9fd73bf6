// The camera's JSON readers refuse answers nested far too deep, and the calling thread lives.
#include <string>

#include <gtest/gtest.h>

#include "CameraJson.h"
#include "CapturingLogger.h"
#include "EventVariables.h"
#include "IODeviceProfileBasedMngr.h"
#include "RecordingList.h"

namespace {

std::string nested(size_t levels, const std::string& inner = "1") {
  return std::string(levels, '[') + inner + std::string(levels, ']');
}

// 32 levels are read, 33 refused; 300,000 levels: a reader that writes (or walks) the tree
// recursively overflows its stack.
TEST(CameraJsonTest, DeepAnswersAreRefused) {
  EXPECT_NO_THROW(Vantrel::parseCameraJson(nested(32)));
  EXPECT_THROW(Vantrel::parseCameraJson(nested(33)), Vantrel::CameraJsonTooDeep);
  EXPECT_THROW(Vantrel::parseCameraJson("{\"a\":" + nested(31, "{}") + "}"), Vantrel::CameraJsonTooDeep);
  EXPECT_THROW(Vantrel::parseCameraJson("[1,"), nlohmann::json::parse_error);
  const std::string deep = nested(300000);
  CapturingLogger capture;
  const Talvo::LoggerOwner logger(&capture, "test");
  Vantrel::EventVariables variables;
  // A record's path, a record's time, the event-variable log; the boards answer, the alarm list.
  Vantrel::parseEventVariables(logger, R"([{"tv_sec":"1","type":"changed","path":)" + deep + "}]", variables);
  Vantrel::parseEventVariables(logger, R"([{"path":"messages.local.a","tv_sec":)" + deep + "}]", variables);
  Vantrel::parseEventVariables(logger, deep, variables);
  EXPECT_THROW(Vantrel::IODeviceProfileBasedMngr::parseBoards("{\"s\":" + deep + "}"), std::exception);
  EXPECT_THROW(Vantrel::parseAlarmList(deep), std::exception);
  EXPECT_TRUE(variables.empty());
  EXPECT_EQ(capture.count(" Can not get tree from JSON: nesting deeper than 32 levels"), 3u) << capture.dump();
}

}  // namespace
