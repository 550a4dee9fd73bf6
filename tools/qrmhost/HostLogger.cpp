#include "HostLogger.h"

#include <cstring>

#include "ContractObject.h"

namespace qrmhost {
namespace {

// The file name without its folders: module builds carry long absolute paths.
const char* baseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace

const char* levelName(int level) {
  switch (level) {
    case 0:
      return "debug";
    case 1:
      return "info";
    case 2:
      return "warning";
    default:
      return level < 0 ? "debug" : "error";
  }
}

std::string formatLogLine(int level, const char* file, int line, const char* function, const char* message) {
  std::string text = "[";
  text += levelName(level);
  text += "] ";
  text += baseName(file ? file : "?");
  if (line > 0) text += ":" + std::to_string(line);
  if (function && *function) {
    text += ' ';
    text += function;
  }
  text += ": ";
  text += message ? message : "";
  return text;
}

void* HostLogger::QueryContract(const char* typeName) {
  return answerCast<HostLogger, Talvo::ILogger, Talvo::IContract>(this, typeName);
}

void HostLogger::SetOption(const char* name, const char* value) {
  if (!name) return;
  std::lock_guard<std::mutex> lock(optionsMutex_);
  options_[name] = value ? value : "";
}

void HostLogger::Log(int level, const char* file, int line, const char* function, const char* message) {
  if (level < level_) return;
  console_.message(formatLogLine(level, file, line, function, message));
}

}  // namespace qrmhost
