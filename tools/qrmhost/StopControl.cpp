#include "StopControl.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace qrmhost {
namespace {

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

void StopRequest::request() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_ = true;
  }
  changed_.notify_all();
}

bool StopRequest::requested() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requested_;
}

bool StopRequest::waitUntil(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_until(lock, deadline, [this] { return requested_; });
}

void blockStopSignals() {
  const sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(StopRequest& stop) : stop_(stop), thread_([this] { run(); }) {}

SignalWatcher::~SignalWatcher() {
  pthread_kill(thread_.native_handle(), SIGUSR1);
  thread_.join();
}

void SignalWatcher::run() {
  const sigset_t set = stopSignals();
  bool stopping = false;
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (signal == SIGUSR1) return;
    if (stopping) {
      static const char kMessage[] = "qrmhost: interrupted again, leaving without cleaning up\n";
      (void)!write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
      _exit(130);
    }
    stopping = true;
    stop_.request();
  }
}

}  // namespace qrmhost
