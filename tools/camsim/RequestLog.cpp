#include "RequestLog.h"

#include <chrono>
#include <cstdio>

namespace camsim {

namespace {

std::int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string jsonQuote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

std::uint64_t RequestLog::arrived(const std::string& method, const std::string& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.size() == capacity_) entries_.pop_front();
  const std::uint64_t id = nextId_++;
  entries_.push_back({id, method, target, nowMs(), 0});
  return id;
}

void RequestLog::answered(std::uint64_t id, int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Ids grow by one per entry, so the entry sits at a known distance from the front.
  if (entries_.empty() || id < entries_.front().id) return;
  const std::uint64_t index = id - entries_.front().id;
  if (index < entries_.size() && entries_[index].id == id) entries_[index].status = status;
}

std::string RequestLog::jsonLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  for (const Entry& entry : entries_) {
    out += "{\"method\":" + jsonQuote(entry.method) + ",\"target\":" + jsonQuote(entry.target) +
           ",\"time\":" + std::to_string(entry.timeMs) + ",\"status\":" + std::to_string(entry.status) + "}\n";
  }
  return out;
}

void RequestLog::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

}  // namespace camsim
