// The logger qrmhost hands to the module: writes the module's messages on stderr.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "Console.h"
#include "host/Contract.h"

namespace qrmhost {

// Levels: 0 debug, 1 info, 2 warning, 3 error. Any module thread may call any member; the object
// outlives the module (it is ended after finiModule and dlclose).
class HostLogger : public Talvo::ILogger {
 public:
  HostLogger(Console& console, int level) : console_(console), level_(level) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;

  int GetLevel() override { return level_; }
  void SetOption(const char* name, const char* value) override;
  void Log(int level, const char* file, int line, const char* function, const char* message) override;

  // For qrmhost's own notices, written in the same form as the module's.
  void log(int level, const std::string& message) { Log(level, "qrmhost", 0, "", message.c_str()); }

 private:
  Console& console_;
  const int level_;
  std::mutex optionsMutex_;
  std::map<std::string, std::string> options_;  // kept only to answer later questions; unused now
};

// "debug", "info", "warning" or "error" (anything above 3 reads "error").
const char* levelName(int level);

// The log line for one message: "[warning] Device.cpp:120 Device::connect: message".
std::string formatLogLine(int level, const char* file, int line, const char* function, const char* message);

}  // namespace qrmhost
