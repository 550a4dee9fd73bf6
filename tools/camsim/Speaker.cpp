#include "Speaker.h"

#include <algorithm>

#include <nlohmann/json.hpp>
#include <openssl/sha.h>

namespace camsim {

namespace {

std::string hex(const unsigned char* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
  }
  return text;
}

std::string hex(const std::string& bytes) {
  return hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace

void Speaker::callStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  bytes_ = 0;
  head_.clear();
  tail_.clear();
}

void Speaker::received(const char* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  bytes_ += size;
  head_.append(data, std::min(size, kHashedBytes - head_.size()));
  tail_.append(data, size);
  if (tail_.size() > kEndBytes) tail_.erase(0, tail_.size() - kEndBytes);
}

std::string Speaker::json() const {
  std::lock_guard<std::mutex> lock(mutex_);
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(head_.data()), head_.size(), digest);
  nlohmann::json document = {{"bytes", bytes_},
                             {"calls", calls_},
                             {"sha256_first_64k", hex(digest, sizeof digest)},
                             {"first", hex(head_.substr(0, kEndBytes))},
                             {"last", hex(tail_)}};
  return document.dump();
}

Reply speakerControl(const Speaker& speaker, const Target&) {
  Reply reply = Reply::text(200, speaker.json());
  reply.contentType = "application/json";
  return reply;
}

}  // namespace camsim
