#include "CameraState.h"

#include <algorithm>

namespace camsim {

namespace {

void storeLine(SectionLines& lines, const std::string& key, const std::string& value) {
  auto found = std::find_if(lines.begin(), lines.end(), [&](const auto& line) { return line.first == key; });
  if (found != lines.end()) {
    found->second = value;
  } else {
    lines.emplace_back(key, value);
  }
}

}  // namespace

CameraState::CameraState(ModelInfo model, SectionMap sections)
    : model_(std::move(model)),
      sections_(std::move(sections)),
      identity_{{"SWV", model_.firmware},
                {"CFL", model_.name},
                {"TSL", model_.thermal ? std::optional<std::string>("TR-1") : std::nullopt}} {
  messages_.setRs232Boards(rs232Boards(model_));
}

SignalState CameraState::signals() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signals_;
}

void CameraState::setSignals(SignalState state) {
  std::lock_guard<std::mutex> lock(mutex_);
  signals_ = std::move(state);
}

const std::vector<std::string>& CameraState::identityHeaderNames() {
  static const std::vector<std::string> names = {"SWV", "CFL", "TSL"};
  return names;
}

SectionLines CameraState::identityHeaders() const {
  std::lock_guard<std::mutex> lock(mutex_);
  SectionLines headers;
  for (const std::string& name : identityHeaderNames()) {
    const auto found = identity_.find(name);
    if (found != identity_.end() && found->second) headers.emplace_back(name, *found->second);
  }
  return headers;
}

void CameraState::setIdentityHeader(const std::string& name, std::optional<std::string> value) {
  std::lock_guard<std::mutex> lock(mutex_);
  identity_[name] = std::move(value);
}

std::optional<SectionLines> CameraState::read(const std::string& section, const std::vector<std::string>& keys) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = sections_.find(section);
  if (found == sections_.end()) return std::nullopt;
  if (keys.empty()) return found->second;
  SectionLines chosen;
  for (const std::string& key : keys) {
    for (const auto& line : found->second) {
      if (line.first == key) {
        chosen.push_back(line);
        break;
      }
    }
  }
  return chosen;
}

void CameraState::set(const std::string& section, const SectionLines& lines) {
  std::lock_guard<std::mutex> lock(mutex_);
  SectionLines& stored = sections_[section];
  for (const auto& line : lines) storeLine(stored, line.first, line.second);
}

void CameraState::recordAdminQuery(const std::string& query) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (adminQueries_.size() == kMaxAdminQueries) adminQueries_.pop_front();
  adminQueries_.push_back(query);
}

std::vector<std::string> CameraState::adminQueries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {adminQueries_.begin(), adminQueries_.end()};
}

void CameraState::setMicrophone(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  microphone_ = on;
}

bool CameraState::microphone() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return microphone_;
}

void CameraState::setEvents(EventSettings events) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_ = std::move(events);
}

EventSettings CameraState::events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::optional<std::string> CameraState::jsonDocument(const std::string& path) const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = jsonDocuments_.find(path);
    if (found != jsonDocuments_.end()) return found->second;
  }
  if (path == kEventVariablesPath) return messages_.eventVariablesJson();
  if (path == kRs232BoardsPath) return messages_.rs232ConfigJson();
  return std::nullopt;
}

void CameraState::removeJsonDocument(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  jsonDocuments_.erase(path);
}

bool CameraState::setJsonDocument(const std::string& path, std::string body) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (jsonDocuments_.count(path) == 0 && jsonDocuments_.size() >= kMaxJsonDocuments) {
    return false;
  }
  jsonDocuments_[path] = std::move(body);
  return true;
}

}  // namespace camsim
