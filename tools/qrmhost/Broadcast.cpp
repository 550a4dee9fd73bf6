#include "Broadcast.h"

#include <algorithm>

namespace qrmhost {

Broadcast::Item Broadcast::Listener::next() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (waiting_.empty()) {
    wakeArmed_ = true;
    return nullptr;
  }
  Item item = std::move(waiting_.front());
  waiting_.pop_front();
  return item;
}

void Broadcast::publish(Item item) {
  std::lock_guard<std::mutex> lock(mutex_);
  latest_ = item;
  ++published_;
  for (const auto& listener : listeners_) {
    std::lock_guard<std::mutex> listenerLock(listener->mutex_);
    if (listener->waiting_.size() >= queueLimit_) {
      listener->waiting_.pop_front();
      ++dropped_;
    }
    listener->waiting_.push_back(item);
    if (!listener->wakeArmed_) continue;
    listener->wakeArmed_ = false;
    listener->wake_();
  }
}

Broadcast::Item Broadcast::latest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return latest_;
}

std::shared_ptr<Broadcast::Listener> Broadcast::join(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || listeners_.size() >= maxListeners_) return nullptr;
  auto listener = std::make_shared<Listener>();
  listener->wake_ = std::move(wake);
  listeners_.push_back(listener);
  return listener;
}

void Broadcast::leave(const Listener* listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                  [listener](const auto& candidate) { return candidate.get() == listener; }),
                   listeners_.end());
}

void Broadcast::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  listeners_.clear();
}

size_t Broadcast::listeners() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return listeners_.size();
}

}  // namespace qrmhost
