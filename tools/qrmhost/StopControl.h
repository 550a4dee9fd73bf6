// Ending a running command: on SIGINT/SIGTERM, on a goal reached, or at a deadline.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qrmhost {

using Clock = std::chrono::steady_clock;

// A one-way flag with a wait. Any thread may request; the main thread waits.
class StopRequest {
 public:
  void request();
  bool requested();
  // True as soon as a stop is requested, false when `deadline` passes first.
  bool waitUntil(Clock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
};

// Blocks SIGINT, SIGTERM and SIGUSR1 in the calling thread. Call it first thing in main(), before
// any module is loaded, so that every later thread inherits the mask and only the watcher below
// takes these signals.
void blockStopSignals();

// A thread that turns the first SIGINT or SIGTERM into stop.request(); a second one ends the
// program at once (for a module that hangs while stopping). The destructor wakes the thread with
// SIGUSR1 and joins it.
class SignalWatcher {
 public:
  explicit SignalWatcher(StopRequest& stop);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  void run();

  StopRequest& stop_;
  std::thread thread_;
};

}  // namespace qrmhost
