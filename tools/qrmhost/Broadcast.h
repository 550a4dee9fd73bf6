// Fan-out of shared texts (pictures, events) from the module's threads to the console server's
// listeners. Each listener has a queue of its own, of `queueLimit` items: when it falls behind,
// its oldest item is dropped and counted, so a slow listener never slows the publisher or the
// other listeners. An item is shared by every listener, never copied per listener.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qrmhost {

class Broadcast {
 public:
  using Item = std::shared_ptr<const std::string>;

  // One listener. Its owner (the server's thread) takes the items; publishers add them.
  class Listener {
   public:
    // The oldest waiting item, or null; a null answer arms the wake for the next item.
    Item next();

   private:
    friend class Broadcast;
    std::mutex mutex_;
    std::deque<Item> waiting_;
    bool wakeArmed_ = true;
    std::function<void()> wake_;
  };

  Broadcast(size_t queueLimit, size_t maxListeners) : queueLimit_(queueLimit), maxListeners_(maxListeners) {}

  // Any thread. Wakes every armed listener, with the broadcast's lock held: a wake must only
  // queue work (an asio post), never call back.
  void publish(Item item);
  // The last item published; null before the first.
  Item latest() const;

  // A new listener, woken by `wake` when an item waits after next() answered null; null when
  // `maxListeners` listen already or the broadcast was closed.
  std::shared_ptr<Listener> join(std::function<void()> wake);
  void leave(const Listener* listener);
  // Forgets every listener and takes no more: no wake is called after it returns.
  void close();

  size_t listeners() const;
  uint64_t dropped() const { return dropped_.load(); }
  uint64_t published() const { return published_.load(); }

 private:
  const size_t queueLimit_;
  const size_t maxListeners_;
  mutable std::mutex mutex_;
  Item latest_;
  std::vector<std::shared_ptr<Listener>> listeners_;
  bool closed_ = false;
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> published_{0};
};

}  // namespace qrmhost
