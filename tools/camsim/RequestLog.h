// The log of camera requests served at /sim/requests, in arrival order.
// Thread safety: all methods may be called from any io thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace camsim {

class RequestLog {
 public:
  explicit RequestLog(std::size_t capacity = 10000) : capacity_(capacity) {}

  // Records a request as it arrives (status 0 until answered); returns its id for answered().
  std::uint64_t arrived(const std::string& method, const std::string& target);
  // Sets the status the request was answered with (0: no HTTP answer, e.g. closed).
  // Ignored when the entry was cleared or has fallen out of the log.
  void answered(std::uint64_t id, int status);
  // The scheme of the request's Authorization header: "basic", "digest" or "none".
  void authorizedWith(std::uint64_t id, const char* scheme);
  // A stream request's connection sent one more whole, good picture.
  void pictureSent(std::uint64_t id);

  // One JSON object per line: {"method":..,"target":..,"time":<ms>,"status":..,"auth":..},
  // and for a stream that sent good pictures, "pictures":N.
  std::string jsonLines() const;
  void clear();

 private:
  struct Entry {
    std::uint64_t id;
    std::string method;
    std::string target;
    std::int64_t timeMs;
    int status;
    std::uint64_t pictures = 0;
    const char* auth = "none";
  };
  Entry* find(std::uint64_t id);  // with mutex_ held; null when cleared or fallen out

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::deque<Entry> entries_;
  std::uint64_t nextId_ = 1;
};

}  // namespace camsim
