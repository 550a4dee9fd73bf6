// The simulator's command line: refused arguments, the start line and a clean exit. (--help is
// checked against the documentation by camsim_docs_options.)
#include "CamsimProcess.h"
#include "ChildProcess.h"
#include "StreamCapture.h"

#include <gtest/gtest.h>

namespace {

// Our own checks only; how CLI11 treats unknown options or missing values is its business.
TEST(CamsimCommandLine, BadArgumentsExitWithStatusTwo) {
  const std::vector<std::string> cases[] = {{},  // no --port
                                            {"--port", "70000"},
                                            {"--port", "0", "--model", "VX-NONE"},
                                            {"--port", "0", "--user", "admin"},  // user without password
                                            {"--port", "0", "--picture", "wide"},
                                            {"--port", "0", "--quality", "101"}};
  for (auto command : cases) {
    command.insert(command.begin(), CamsimProcess::binaryPath());
    EXPECT_EQ(runChild(command, {}, std::chrono::seconds(10)).exitStatus, 2) << testing::PrintToString(command);
  }
}

TEST(CamsimCommandLine, AnnouncesPortsAndEndsCleanlyWithOpenStreams) {
  CamsimProcess camsim({}, true);
  EXPECT_NE(camsim.httpsPort(), 0);
  // A long-lived stream must neither block other requests nor the shutdown.
  const OpenStream stream(camsim.httpPort(), "/control/faststream.jpg?stream=full&fps=5");
  ASSERT_TRUE(stream.answered());
  EXPECT_EQ(camsim.get("/sim/state?section=jpeg&motionjpeg"), "motionjpeg=on\r\n");
  EXPECT_EQ(camsim.stop(), 0);
}

}  // namespace
