#include "RequestLog.h"

#include <chrono>
#include <nlohmann/json.hpp>

namespace camsim {

namespace {

std::int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::uint64_t RequestLog::arrived(const std::string& method, const std::string& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.size() == capacity_) entries_.pop_front();
  const std::uint64_t id = nextId_++;
  entries_.push_back({id, method, target, nowMs(), 0});
  return id;
}

RequestLog::Entry* RequestLog::find(std::uint64_t id) {
  // Ids grow by one per entry, so the entry sits at a known distance from the front.
  if (entries_.empty() || id < entries_.front().id) return nullptr;
  const std::uint64_t index = id - entries_.front().id;
  return index < entries_.size() && entries_[index].id == id ? &entries_[index] : nullptr;
}

void RequestLog::answered(std::uint64_t id, int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Entry* entry = find(id)) entry->status = status;
}

void RequestLog::authorizedWith(std::uint64_t id, const char* scheme) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Entry* entry = find(id)) entry->auth = scheme;
}

void RequestLog::pictureSent(std::uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Entry* entry = find(id)) ++entry->pictures;
}

std::string RequestLog::jsonLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  for (const Entry& entry : entries_) {
    nlohmann::ordered_json line = {
        {"method", entry.method}, {"target", entry.target}, {"time", entry.timeMs}, {"status", entry.status},
        {"auth", entry.auth}};
    if (entry.pictures > 0) line["pictures"] = entry.pictures;
    // Targets are raw client bytes: anything that is not UTF-8 becomes U+FFFD, escaped.
    out += line.dump(-1, ' ', true, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  }
  return out;
}

void RequestLog::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

}  // namespace camsim
