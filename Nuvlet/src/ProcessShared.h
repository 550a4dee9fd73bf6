// One object per process while anyone holds it: made on first need, gone with its last holder,
// made again when needed again. Used for the library's process-wide services.
#pragma once

#include <memory>
#include <mutex>

namespace Talvo {
namespace Utility {

template <class T>
class ProcessShared {
 public:
  // The live object, or one from `make()` (a T*) when there is none.
  template <class Make>
  std::shared_ptr<T> get(Make make) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<T> object = slot_.lock();
    if (!object) {
      object.reset(make());
      slot_ = object;
    }
    return object;
  }
  // The live object, or null; never makes one.
  std::shared_ptr<T> current() {
    std::lock_guard<std::mutex> lock(mutex_);
    return slot_.lock();
  }

 private:
  std::mutex mutex_;
  std::weak_ptr<T> slot_;
};

// The slot of T; leaked on purpose, as the object may be asked for while static objects are
// destroyed.
template <class T>
ProcessShared<T>& processShared() {
  static ProcessShared<T>* const shared = new ProcessShared<T>();
  return *shared;
}

}  // namespace Utility
}  // namespace Talvo
