// Name lookups for camera requests, shared by every io_context of the process. Asio's own
// resolver starts a thread per io_context on its first asynchronous lookup (a device and each of
// its streams run one io_context: hundreds of idle threads in a process with many cameras); these
// lookups run on a few threads that the whole process shares. Declarations only; implemented in
// libNuvlet.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

namespace Talvo {
namespace asio {

using LookupResults = boost::asio::ip::tcp::resolver::results_type;

// The threads that run lookups, and how they look a name up.
class LookupThreads {
 public:
  // Blocking lookup of host and port on a lookup thread; sets `error` on failure.
  using Resolve =
      std::function<LookupResults(const std::string& host, const std::string& port, boost::system::error_code& error)>;

  // The process's threads (kLookupThreads of them), running the system's reentrant lookup; made on
  // first need and kept while an io_context that used them or a caller holds them.
  static std::shared_ptr<LookupThreads> shared();

  // `count` threads running `resolve` (tests give a lookup that waits for them).
  LookupThreads(int count, Resolve resolve);
  // Queued lookups are dropped; a running one is waited for, so release the last reference on a
  // thread that may wait as long as one lookup can take (never on a lookup thread).
  ~LookupThreads();
  LookupThreads(const LookupThreads&) = delete;
  LookupThreads& operator=(const LookupThreads&) = delete;

  // Any thread. Runs `job` on one of the threads.
  void run(std::function<void()> job);
  const Resolve& resolve() const { return resolve_; }

  static constexpr int kLookupThreads = 4;

 private:
  struct Pool;
  Resolve resolve_;
  std::unique_ptr<Pool> pool_;
};

// Lookups of `io` run on `threads` instead of the process's own. Call before the first lookup on
// `io` (later calls change nothing).
void useLookupThreads(boost::asio::io_context& io, std::shared_ptr<LookupThreads> threads);

namespace detail {
class LookupQueue;
}

// One lookup at a time for one user on one io_context, like an Asio resolver.
// Threads: start(), cancel() and the destructor on the io_context's thread (or before it runs),
// as with an Asio resolver; the handler runs on the io_context, never inside start() or cancel().
// If the io_context is destroyed first, a pending handler is destroyed there without running, as
// Asio does with its own handlers.
class NameLookup {
 public:
  using Handler = std::function<void(const boost::system::error_code&, LookupResults)>;

  explicit NameLookup(boost::asio::io_context& io);
  // A pending handler is dropped without running (its owner is going away).
  ~NameLookup();
  NameLookup(const NameLookup&) = delete;
  NameLookup& operator=(const NameLookup&) = delete;

  // Looks `host` up for `port`. Precondition: no lookup of this object is pending.
  void start(const std::string& host, std::uint16_t port, Handler handler);
  // A pending lookup ends at once with operation_aborted; otherwise nothing happens.
  void cancel();

 private:
  boost::asio::io_context& io_;
  std::shared_ptr<detail::LookupQueue> queue_;
  std::shared_ptr<LookupThreads> threads_;  // kept while a job of this object may run on them
  std::uint64_t pending_ = 0;
};

}  // namespace asio
}  // namespace Talvo
