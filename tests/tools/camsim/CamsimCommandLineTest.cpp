// The simulator's command line: --help, refused arguments, the start line and a clean exit.
#include "CamsimProcess.h"
#include "ChildProcess.h"
#include "StreamCapture.h"

#include <gtest/gtest.h>

namespace {

int exitCodeOf(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {CamsimProcess::binaryPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return runChild(argv, {}, std::chrono::seconds(10)).exitStatus;
}

TEST(CamsimCommandLine, HelpExitsZeroAndDocumentsOptionsAndControlPaths) {
  const ChildResult help = runChild({CamsimProcess::binaryPath(), "--help"});
  EXPECT_EQ(help.exitStatus, 0);
  for (const char* word :
       {"--port", "--https-port", "--bind", "--user", "--password", "--model", "--unthrottled", "--picture",
        "--quality", "--verbose", "/sim/requests", "/sim/fault", "/sim/events", "/sim/json", "/sim/state", "VX-T40"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
}

TEST(CamsimCommandLine, BadArgumentsExitWithStatusTwo) {
  EXPECT_EQ(exitCodeOf({}), 2) << "no --port";
  EXPECT_EQ(exitCodeOf({"--port", "http"}), 2);
  EXPECT_EQ(exitCodeOf({"--port", "70000"}), 2);
  EXPECT_EQ(exitCodeOf({"--port", "0", "--bogus"}), 2);
  EXPECT_EQ(exitCodeOf({"--port", "0", "--model", "VX-NONE"}), 2);
  EXPECT_EQ(exitCodeOf({"--port", "0", "--user", "admin"}), 2) << "user without password";
  EXPECT_EQ(exitCodeOf({"--port", "0", "--picture", "wide"}), 2);
  EXPECT_EQ(exitCodeOf({"--port", "0", "--quality", "101"}), 2);
  EXPECT_EQ(exitCodeOf({"--port", "0", "--model"}), 2) << "missing value";
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
