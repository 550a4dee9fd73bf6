// Logging of the utility library: the file logger, per-object prefixes and the log collapser.
// Declarations only; implemented in libNuvlet.
//
// Every message text begins with one blank. The source file given to Log is the source path
// relative to the project root without its extension ("Drivers/Vantrel/src/VideoSource");
// the NLOG macro passes __FILE__ and LoggerOwner::log strips what does not belong.
#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "../Contract.h"

namespace Talvo {

namespace LoggerDetail {
// The process-wide file logger. It writes to the file named by the environment variable
// ORSEL_VANTREL_LOG (appending), at the level named by ORSEL_VANTREL_LOG_LEVEL (default 0);
// without ORSEL_VANTREL_LOG it writes nothing and its level query answers 3.
// The object lives until the process ends; callers never destroy it.
ILogger* initFileLogger();
// A new file logger that reads the two variables now; initFileLogger keeps one of these for the
// process. For tests, which need loggers of several settings in one process.
std::unique_ptr<ILogger> makeFileLoggerFromEnvironment();

// "Drivers/Vantrel/src/VideoSource.cpp" and "/abs/path/Drivers/..." give "Drivers/Vantrel/src/VideoSource".
// Template bodies in an impl/ folder name the header that declares them:
// "Nuvlet/include/impl/AsyncHttp.hpp" gives "Nuvlet/include/AsyncHttp".
std::string sourcePathWithoutExtension(const char* file);
}  // namespace LoggerDetail

// True when a message of `level` is to be written by a logger whose level query answered `loggerLevel`.
inline bool levelAllows(int loggerLevel, int level) { return loggerLevel <= 0 || loggerLevel <= level; }

// Joins a prefix and a message text into the text handed to ILogger::Log: the prefix (if any)
// followed by the text, which itself begins with a blank.
std::string prepareBuffer(const std::string& prefix, const std::string& text);

// A logger with a short prefix naming the object ("vs 0.1", "as 2", "[addr 10.0.0.5:80]").
// A child's prefix is its parent's prefix followed by a blank and its own.
// Thread-safe for logging; the prefix is fixed at construction.
class LoggerOwner {
 public:
  LoggerOwner(ILogger* logger, std::string prefix);
  // Throws std::invalid_argument("To LoggerOwner as parameter parent provided the same object")
  // when `parent` is this very object.
  LoggerOwner(const LoggerOwner* parent, std::string prefix);
  LoggerOwner(const LoggerOwner&) = default;
  virtual ~LoggerOwner() = default;

  ILogger* logger() const { return logger_; }
  const std::string& prefix() const { return prefix_; }
  bool isLevelEnabled(int level) const;
  // `text` begins with a blank.
  void log(int level, const char* file, int line, const char* function, const std::string& text) const;

 protected:
  LoggerOwner() = default;
  void initLogger(const LoggerOwner* parent, std::string prefix);

 private:
  ILogger* logger_ = nullptr;
  std::string prefix_;
};

namespace Utility {
class LogCollapserMaker {
 public:
  // Lets one message of every `count` with the same key through: true for the 1st, the
  // (count+1)th, ... call with `key`. Thread-safe; at most 4096 keys are remembered.
  static bool logCollapser(const std::string& key, uint32_t count);
};
}  // namespace Utility

}  // namespace Talvo

// Writes `expr` (a stream expression; the text begins with a blank) through the LoggerOwner
// `owner` at `level`, forming the text only when the level allows it.
#define NLOG(owner, level, expr)                                              \
  do {                                                                        \
    const ::Talvo::LoggerOwner& nlogOwner_ = (owner);                         \
    if (nlogOwner_.isLevelEnabled(level)) {                                   \
      std::ostringstream nlogText_;                                           \
      nlogText_ << expr;                                                      \
      nlogOwner_.log((level), __FILE__, __LINE__, __func__, nlogText_.str()); \
    }                                                                         \
  } while (0)
