// Checked thread contracts. Where a comment says which thread may call a function, the function
// states it with NUVLET_DCHECK_CALLED_ON(condition): in debug builds (the sanitizer builds are
// debug builds) a call on another thread aborts with the place and the broken contract; in
// release builds the check costs nothing and its condition is not evaluated.
//
//   void Policy::handleConnected(...) {
//     NUVLET_DCHECK_CALLED_ON(isCalledFromConnectionThread());
//
// ThreadBinding remembers the first thread that asks and answers whether the caller is that one;
// it serves objects that have no thread of their own to compare with (a worker that starts later,
// a host thread that calls first). Reset forgets the thread, for example when a worker ends.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace Talvo {
namespace Utility {

class ThreadBinding {
 public:
  // True when the caller is the bound thread; binds the caller when none is bound yet.
  bool calledOnBoundThread() {
    const std::thread::id self = std::this_thread::get_id();
    std::thread::id expected{};
    if (bound_.compare_exchange_strong(expected, self)) return true;
    return expected == self;
  }
  void reset() { bound_.store(std::thread::id{}); }

 private:
  std::atomic<std::thread::id> bound_{};
};

// For an object whose Destroy may come from inside the work of its own thread: called by that
// thread as its work ends, under the object's lock. True when Destroy came (`destroying`) and
// `thread` is the caller: the thread is detached and the caller deletes the object.
inline bool detachToDeleteSelf(std::thread& thread, bool destroying) {
  if (!destroying || thread.get_id() != std::this_thread::get_id()) return false;
  thread.detach();
  return true;
}

[[noreturn]] inline void threadContractBroken(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: thread contract broken: %s\n", file, line, condition);
  std::abort();
}

}  // namespace Utility
}  // namespace Talvo

#ifdef NDEBUG
#define NUVLET_DCHECK_CALLED_ON(condition) static_cast<void>(0)
#else
#define NUVLET_DCHECK_CALLED_ON(condition) \
  ((condition) ? static_cast<void>(0) : ::Talvo::Utility::threadContractBroken(__FILE__, __LINE__, #condition))
#endif
