// The level rule, prefixes, the file logger and the collapser.
#include "host/Nuvlet/Logging.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <thread>
#include <vector>

#include "CapturingLogger.h"
#include "ScratchFolder.h"

namespace {

using Talvo::LoggerOwner;

TEST(LoggerLevelRule, WritesAndFormsOnlyAllowedLevels) {
  for (int loggerLevel = 0; loggerLevel <= 3; ++loggerLevel) {
    for (int level = 0; level <= 3; ++level) {
      CapturingLogger logger(loggerLevel);
      LoggerOwner owner(&logger, "t");
      int insertions = 0;
      NLOG(owner, level, " formed " << ++insertions);  // counts whether the text was formed
      const bool expected = loggerLevel == 0 || loggerLevel <= level;
      EXPECT_EQ(logger.lines().size(), expected ? 1u : 0u) << "logger " << loggerLevel << " message " << level;
      EXPECT_EQ(insertions, expected ? 1 : 0) << "logger " << loggerLevel << " message " << level;
    }
  }
}

// A line carries the source, the function and the owners' prefixes, a child's after its parent's.
TEST(LoggerOwnerTest, ChildPrefixFollowsParentPrefixWithBlankAndNoLoggerIsQuiet) {
  CapturingLogger logger;
  LoggerOwner device(&logger, "dev 3");
  LoggerOwner source(&device, "vs 0.1");
  LoggerOwner request(&source, "[addr 127.0.0.1:80]");
  EXPECT_EQ(source.prefix(), "dev 3 vs 0.1");
  EXPECT_EQ(request.logger(), &logger);
  const int line = __LINE__ + 1;
  NLOG(request, 2, " Started");
  EXPECT_EQ(logger.dump(), "L2 tests/Nuvlet/LoggingTest:" + std::to_string(line) +
                               " TestBody:dev 3 vs 0.1 [addr 127.0.0.1:80] Started\n");

  LoggerOwner unnamed(&logger, "");
  LoggerOwner child(&unnamed, "as 2");
  EXPECT_EQ(child.prefix(), "as 2");

  LoggerOwner orphan(static_cast<const LoggerOwner*>(nullptr), "y");
  EXPECT_EQ(orphan.logger(), nullptr);
  EXPECT_FALSE(orphan.isLevelEnabled(3));
  orphan.log(3, __FILE__, __LINE__, __func__, " ignored");

  EXPECT_THROW(LoggerOwner self(&self, "y"), std::invalid_argument);  // its prefix would never end
}

TEST(SourcePathTest, StripsDirectoriesBeforeTheProjectRootAndExtension) {
  const std::pair<const char*, std::string> cases[] = {
      {"/w/main/tools/camsim/Main.cpp", "tools/camsim/Main"},
      {"Nuvlet/include/impl/AsyncHttp.hpp", "Nuvlet/include/AsyncHttp"},
      {"/w/MyNuvlet/src/X.cpp", "/w/MyNuvlet/src/X"},
      {"/w/v1.2/Makefile", "/w/v1.2/Makefile"},
      {nullptr, ""}};
  for (const auto& c : cases) EXPECT_EQ(Talvo::LoggerDetail::sourcePathWithoutExtension(c.first), c.second);
}

// Sets the file logger's variables for one test and removes them again.
class FileLoggerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("ORSEL_VANTREL_LOG");
    unsetenv("ORSEL_VANTREL_LOG_LEVEL");
  }
  std::vector<std::string> fileLines() const {
    std::ifstream in(path_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  ScratchFolder folder_;
  const std::string path_ = folder_.file("vantrel.log");
};

// Without the file's variable it writes nothing and answers level 3.
TEST_F(FileLoggerTest, AppendsOneLinePerMessageAtItsLevel) {
  setenv("ORSEL_VANTREL_LOG_LEVEL", "0", 1);
  auto none = Talvo::LoggerDetail::makeFileLoggerFromEnvironment();
  none->SetOption("level", "0");
  EXPECT_EQ(none->GetLevel(), 3);
  none->Log(3, "f", 1, "fn", " dropped");

  setenv("ORSEL_VANTREL_LOG", path_.c_str(), 1);
  setenv("ORSEL_VANTREL_LOG_LEVEL", "2", 1);
  auto logger = Talvo::LoggerDetail::makeFileLoggerFromEnvironment();
  EXPECT_EQ(logger->GetLevel(), 2);
  EXPECT_NE(access(path_.c_str(), F_OK), 0) << "the file is opened on the first write";
  { std::ofstream(path_) << "earlier\n"; }

  LoggerOwner owner(logger.get(), "vs 0.1");
  owner.log(1, "/x/Drivers/Vantrel/src/VideoSource.cpp", 12, "start", " hidden");
  owner.log(2, "/x/Drivers/Vantrel/src/VideoSource.cpp", 12, "start", " Started");
  logger->SetOption("level", "0");
  EXPECT_EQ(logger->GetLevel(), 0);
  owner.log(0, "Nuvlet/src/Http.cpp", 7, "get", " debug");
  logger->SetOption("level", "7");
  EXPECT_EQ(logger->GetLevel(), 0);

  const auto lines = fileLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier");
  const std::regex first(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z L2 Drivers/Vantrel/src/VideoSource:12 start:vs 0\.1 Started)");
  EXPECT_TRUE(std::regex_match(lines[1], first)) << lines[1];
  EXPECT_NE(lines[2].find(" L0 Nuvlet/src/Http:7 get:vs 0.1 debug"), std::string::npos) << lines[2];
}

using Talvo::Utility::LogCollapserMaker;

// The collapser remembers keys for the whole process: every run of a test takes fresh ones.
std::string freshKey(const std::string& name) {
  static std::atomic<int> runs{0};
  return "collapser-" + name + "-" + std::to_string(runs++);
}

// The first of every `count` calls passes, per key; memory is bounded by forgetting old keys.
TEST(LogCollapserTest, LetsFirstOfEveryCountThroughAndForgetsOldKeys) {
  const std::string key = freshKey("every-3");
  std::vector<bool> passed;
  for (int i = 0; i < 7; ++i) passed.push_back(LogCollapserMaker::logCollapser(key, 3));
  EXPECT_EQ(passed, (std::vector<bool>{true, false, false, true, false, false, true}));
  EXPECT_TRUE(LogCollapserMaker::logCollapser(freshKey("other"), 3));
  const std::string always = freshKey("count-1");
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(LogCollapserMaker::logCollapser(always, 1)) << i;
  for (int i = 0; i < 5000; ++i) LogCollapserMaker::logCollapser(freshKey("filler"), 1000);
  EXPECT_TRUE(LogCollapserMaker::logCollapser(key, 3)) << "the old key should have been forgotten";
}

// Four threads at once: the collapser lets exactly one of every ten calls through.
TEST_F(FileLoggerTest, ConcurrentCallersGiveWholeLinesAndExactCollapsedCounts) {
  setenv("ORSEL_VANTREL_LOG", path_.c_str(), 1);
  auto logger = Talvo::LoggerDetail::makeFileLoggerFromEnvironment();
  const std::string key = freshKey("concurrent");
  std::atomic<int> passed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 1000; ++i) {
        if (i < 100) logger->Log(0, "f", t, "fn", " a line of some length to interleave");
        if (LogCollapserMaker::logCollapser(key, 10)) ++passed;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(passed.load(), 400);
  const auto lines = fileLines();
  ASSERT_EQ(lines.size(), 400u);
  for (const auto& line : lines) EXPECT_NE(line.find("fn: a line of some length to interleave"), std::string::npos);
}

}  // namespace
