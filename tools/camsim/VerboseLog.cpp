#include "VerboseLog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>

namespace camsim {

namespace {

bool looksSecret(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name.find("pass") != std::string::npos || name.find("pwd") != std::string::npos ||
         name.find("secret") != std::string::npos;
}

std::string maskItem(const std::string& item) {
  const auto equals = item.find('=');
  if (equals == std::string::npos || !looksSecret(item.substr(0, equals))) return item;
  return item.substr(0, equals + 1) + "***";
}

}  // namespace

std::string maskSecrets(const std::string& target) {
  const auto question = target.find('?');
  if (question == std::string::npos) return target;
  std::string out = target.substr(0, question + 1);
  std::size_t start = question + 1;
  while (start <= target.size()) {
    auto end = target.find('&', start);
    if (end == std::string::npos) end = target.size();
    out += maskItem(target.substr(start, end - start));
    if (end < target.size()) out += '&';
    start = end + 1;
  }
  return out;
}

void VerboseLog::request(const std::string& method, const std::string& target, int status) const {
  if (!enabled_) return;
  static std::mutex writeMutex;
  const std::string line = "camsim: " + method + " " + maskSecrets(target) + " -> " + std::to_string(status) + "\n";
  std::lock_guard<std::mutex> lock(writeMutex);
  std::fputs(line.c_str(), stderr);
}

}  // namespace camsim
