// The bases of the test doubles: TestContract answers the contract casts; Recorder keeps state
// guarded by mutex_, changed under the lock and waited for with a deadline. The driver calls the
// doubles from its own threads while the test waits. Header-only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "host/Contract.h"

// Implements `Interface`'s casts: answers for it and for every one of `Also`.
template <class Interface, class... Also>
class TestContract : public Interface {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    const bool ours = Talvo::isContractName<Interface>(typeName) || (Talvo::isContractName<Also>(typeName) || ...);
    return ours ? static_cast<Interface*>(this) : nullptr;
  }
};

class Recorder {
 public:
  // A copy of `member` of the recording object, read under the lock.
  template <class Self, class T>
  T snapshot(T Self::*member) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<const Self*>(this)->*member;
  }

 protected:
  template <class Predicate>
  bool waitUntil(Predicate predicate, std::chrono::milliseconds deadline) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, deadline, predicate);
  }
  // Notifies under the lock: a waiter that sees the change may end the test and destroy this
  // object at once, which must not happen while notify_all still runs.
  template <class Change>
  void record(Change change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
    changed_.notify_all();
  }
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
};
