// The readers of the camera's JSON answers given answers nested far deeper than any real one
// (well inside the body cap): each refuses the answer as a bad one and the calling thread lives.
#include <functional>
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
  const std::string record = R"({"tv_sec":"1","type":"changed","path":)";
  struct Case {
    const char* what;
    std::function<void()> read;
  };
  CapturingLogger capture;
  const Talvo::LoggerOwner logger(&capture, "test");
  Vantrel::EventVariables variables;
  const Case cases[] = {
      {"a record's path", [&] { Vantrel::parseEventVariables(logger, "[" + record + deep + "}]", variables); }},
      {"a record's time",
       [&] {
         Vantrel::parseEventVariables(logger, R"([{"path":"messages.local.a","tv_sec":)" + deep + "}]", variables);
       }},
      {"the event-variable log", [&] { Vantrel::parseEventVariables(logger, deep, variables); }},
      {"the boards answer",
       [&] { EXPECT_THROW(Vantrel::IODeviceProfileBasedMngr::parseBoards("{\"s\":" + deep + "}"), std::exception); }},
      {"the alarm list", [&] { EXPECT_THROW(Vantrel::parseAlarmList(deep), std::exception); }},
  };
  for (const Case& c : cases) c.read();
  EXPECT_TRUE(variables.empty());
  EXPECT_EQ(capture.count(" Can not get tree from JSON: nesting deeper than 32 levels"), 3u) << capture.dump();
}

}  // namespace
