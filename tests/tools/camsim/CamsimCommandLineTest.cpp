// The simulator's command line: --help, refused arguments, the start line and a clean exit.
#include "CamsimProcess.h"
#include "ChildProcess.h"
#include "StreamCapture.h"

#include <gtest/gtest.h>

namespace {

TEST(CamsimCommandLine, HelpExitsZeroAndDocumentsOptionsAndControlPaths) {
  const ChildResult help = runChild({CamsimProcess::binaryPath(), "--help"});
  EXPECT_EQ(help.exitStatus, 0);
  for (const char* word :
       {"--port", "--https-port", "--bind", "--user", "--password", "--model", "--unthrottled", "--picture",
        "--quality", "--verbose", "/sim/requests", "/sim/fault", "/sim/events", "/sim/json", "/sim/state", "VX-T40"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
}

// Our own checks only; how CLI11 treats unknown options or missing values is its business.
TEST(CamsimCommandLine, BadArgumentsExitWithStatusTwo) {
  const std::vector<std::string> cases[] = {{},  // no --port
                                            {"--port", "70000"},
                                            {"--port", "0", "--model", "VX-NONE"},
                                            {"--port", "0", "--user", "admin"},  // user without password
                                            {"--port", "0", "--picture", "wide"},
                                            {"--port", "0", "--quality", "101"}};
  for (const auto& arguments : cases) {
    std::vector<std::string> command = {CamsimProcess::binaryPath()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(runChild(command, {}, std::chrono::seconds(10)).exitStatus, 2) << testing::PrintToString(arguments);
  }
}

TEST(CamsimCommandLine, AnnouncesPortsAndEndsCleanlyWithOpenStreams) {
  CamsimProcess camsim({}, true);
  EXPECT_NE(camsim.httpPort(), 0);
  EXPECT_NE(camsim.httpsPort(), 0);
  EXPECT_NE(camsim.httpPort(), camsim.httpsPort());
  // A long-lived stream must neither block other requests nor the shutdown.
  const OpenStream stream(camsim.httpPort(), "/control/faststream.jpg?stream=full&fps=5");
  ASSERT_TRUE(stream.answered());
  EXPECT_EQ(camsim.get("/sim/state?section=jpeg&motionjpeg"), "motionjpeg=on\r\n");
  EXPECT_EQ(camsim.stop(), 0);
}

}  // namespace
