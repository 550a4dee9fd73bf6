// The file logger, per-object prefixes and the log collapser.
#include "host/Nuvlet/Logging.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

#include "host/Nuvlet/Time.h"

namespace Talvo {

namespace {

constexpr int kQuietLevel = 3;

int clampLevel(int level) { return level < 0 ? 0 : (level > kQuietLevel ? kQuietLevel : level); }

// Reads a level "0".."3"; anything else gives `fallback`.
int parseLevel(const char* text, int fallback) {
  if (text == nullptr || text[0] < '0' || text[0] > '3' || text[1] != '\0') return fallback;
  return text[0] - '0';
}

const char* orEmpty(const char* text) { return text ? text : ""; }

// Appends one line per message to a file opened on the first write. Any thread; the file is
// written under the mutex, one flushed line at a time.
class FileLogger final : public ILogger {
 public:
  FileLogger(std::string path, int level) : path_(std::move(path)), level_(path_.empty() ? kQuietLevel : level) {}
  ~FileLogger() override {
    if (file_) std::fclose(file_);
  }

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    if (isContractName<IContract>(typeName)) return static_cast<IContract*>(this);
    if (isContractName<ILogger>(typeName)) return static_cast<ILogger*>(this);
    return nullptr;
  }

  int GetLevel() override { return path_.empty() ? kQuietLevel : level_.load(); }

  void SetOption(const char* name, const char* value) override {
    if (name != nullptr && std::string(name) == "level") level_ = parseLevel(value, level_.load());
  }

  void Log(int level, const char* file, int line, const char* function, const char* message) override {
    if (path_.empty() || !levelAllows(GetLevel(), level)) return;
    const std::string text = Utility::timestampToString(Utility::timeStamp()) + " L" +
                             std::to_string(clampLevel(level)) + " " + orEmpty(file) + ":" + std::to_string(line) +
                             " " + orEmpty(function) + ":" + orEmpty(message) + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_ && !openFailed_) {
      file_ = std::fopen(path_.c_str(), "a");
      openFailed_ = file_ == nullptr;
    }
    if (!file_) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
  }

 private:
  const std::string path_;
  std::atomic<int> level_;
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool openFailed_ = false;
};

}  // namespace

namespace LoggerDetail {

std::unique_ptr<ILogger> makeFileLoggerFromEnvironment() {
  const char* path = std::getenv("ORSEL_VANTREL_LOG");
  const int level = parseLevel(std::getenv("ORSEL_VANTREL_LOG_LEVEL"), 0);
  return std::make_unique<FileLogger>(path ? path : "", level);
}

ILogger* initFileLogger() {
  // Leaked on purpose: the module's objects may still log while static objects are destroyed.
  static ILogger* const logger = makeFileLoggerFromEnvironment().release();
  return logger;
}

std::string sourcePathWithoutExtension(const char* file) {
  if (file == nullptr) return std::string();
  std::string path(file);
  static const char* const kRoots[] = {"Drivers/", "Nuvlet/", "sdk/", "tools/", "tests/", "host/"};
  size_t start = std::string::npos;
  for (const char* root : kRoots) {
    // A root counts at the start of the path or right after a '/'.
    for (size_t at = path.find(root); at != std::string::npos; at = path.find(root, at + 1)) {
      if (at == 0 || path[at - 1] == '/') {
        if (at < start) start = at;
        break;
      }
    }
  }
  if (start != std::string::npos) path.erase(0, start);
  // Template bodies in an impl/ folder log under the header that declares them.
  const size_t impl = path.rfind("/impl/");
  if (impl != std::string::npos) path.erase(impl, 5);
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) path.erase(dot);
  return path;
}

}  // namespace LoggerDetail

std::string prepareBuffer(const std::string& prefix, const std::string& text) {
  return prefix.empty() ? text : prefix + text;
}

LoggerOwner::LoggerOwner(ILogger* logger, std::string prefix) : logger_(logger), prefix_(std::move(prefix)) {}

LoggerOwner::LoggerOwner(const LoggerOwner* parent, std::string prefix) { initLogger(parent, std::move(prefix)); }

void LoggerOwner::initLogger(const LoggerOwner* parent, std::string prefix) {
  if (parent == this) throw std::invalid_argument("To LoggerOwner as parameter parent provided the same object");
  if (parent == nullptr) {
    logger_ = nullptr;
    prefix_ = std::move(prefix);
    return;
  }
  logger_ = parent->logger_;
  const std::string& parentPrefix = parent->prefix_;
  prefix_ = parentPrefix.empty() ? std::move(prefix) : parentPrefix + " " + prefix;
}

bool LoggerOwner::isLevelEnabled(int level) const {
  return logger_ != nullptr && levelAllows(logger_->GetLevel(), level);
}

void LoggerOwner::log(int level, const char* file, int line, const char* function, const std::string& text) const {
  if (!isLevelEnabled(level)) return;
  logger_->Log(level, LoggerDetail::sourcePathWithoutExtension(file).c_str(), line, orEmpty(function),
               prepareBuffer(prefix_, text).c_str());
}

namespace Utility {

namespace {
constexpr size_t kMaxCollapserKeys = 4096;
}

bool LogCollapserMaker::logCollapser(const std::string& key, uint32_t count) {
  static std::mutex mutex;
  static std::unordered_map<std::string, uint64_t>* const calls = new std::unordered_map<std::string, uint64_t>();
  std::lock_guard<std::mutex> lock(mutex);
  auto found = calls->find(key);
  if (found == calls->end()) {
    // Forgetting every key when full only lets one more message of each through.
    if (calls->size() >= kMaxCollapserKeys) calls->clear();
    found = calls->emplace(key, 0).first;
  }
  const uint64_t call = found->second++;
  return count <= 1 || call % count == 0;
}

}  // namespace Utility

}  // namespace Talvo
