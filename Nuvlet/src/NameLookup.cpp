// Name lookups shared by every io_context of the process.
#include "host/Nuvlet/NameLookup.h"

#include <map>
#include <mutex>
#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/execution_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

namespace Talvo {
namespace asio {

namespace detail {

// The hand-back of one io_context: the handlers of its pending lookups, and the io_context to post
// them to until it shuts down. Shared by the io_context's service and the queued jobs, so that a
// job finishing after the io_context is gone finds it closed instead of touching freed memory.
class LookupQueue {
 public:
  explicit LookupQueue(boost::asio::io_context& io) : io_(&io) {}

  std::uint64_t add(NameLookup::Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t id = nextId_++;
    pending_.emplace(id, std::move(handler));
    return id;
  }

  bool wanted(std::uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return io_ != nullptr && pending_.count(id) != 0;
  }

  // Posts the handler of `id` with this outcome, unless it was cancelled, forgotten or the
  // io_context shut down meanwhile.
  void finish(std::uint64_t id, const boost::system::error_code& error, LookupResults results) {
    NameLookup::Handler handler;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!take(id, handler)) return;
    // Under the lock: close() cannot run between the check and the post.
    boost::asio::post(*io_, [handler = std::move(handler), error, results = std::move(results)]() mutable {
      handler(error, std::move(results));
    });
  }

  void forget(std::uint64_t id) {
    NameLookup::Handler handler;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      take(id, handler);
    }
    // Destroyed outside the lock: it may own objects whose destructors come back here.
  }

  // The io_context shuts down: its pending handlers are destroyed here, as its own are.
  void close() {
    std::map<std::uint64_t, NameLookup::Handler> dropped;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      io_ = nullptr;
      dropped.swap(pending_);
    }
  }

 private:
  bool take(std::uint64_t id, NameLookup::Handler& handler) {
    if (io_ == nullptr) return false;
    const auto found = pending_.find(id);
    if (found == pending_.end()) return false;
    handler = std::move(found->second);
    pending_.erase(found);
    return true;
  }

  std::mutex mutex_;
  boost::asio::io_context* io_;  // null once the io_context shut down
  std::uint64_t nextId_ = 1;
  std::map<std::uint64_t, NameLookup::Handler> pending_;
};

}  // namespace detail

namespace {

// Lives as long as its io_context: closes the hand-back when the io_context shuts down, and holds
// the lookup threads (never released on a lookup thread: jobs hold only the queue).
class LookupService : public boost::asio::execution_context::service {
 public:
  static boost::asio::execution_context::id id;

  explicit LookupService(boost::asio::execution_context& context)
      : service(context),
        queue_(std::make_shared<detail::LookupQueue>(static_cast<boost::asio::io_context&>(context))) {}

  std::shared_ptr<detail::LookupQueue> queue() const { return queue_; }

  std::shared_ptr<LookupThreads> threads() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!threads_) threads_ = LookupThreads::shared();
    return threads_;
  }

  void setThreads(std::shared_ptr<LookupThreads> threads) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!threads_) threads_ = std::move(threads);
  }

 private:
  void shutdown() override { queue_->close(); }

  std::shared_ptr<detail::LookupQueue> queue_;
  std::mutex mutex_;
  std::shared_ptr<LookupThreads> threads_;
};

boost::asio::execution_context::id LookupService::id;

LookupService& serviceOf(boost::asio::io_context& io) {
  return boost::asio::use_service<LookupService>(static_cast<boost::asio::execution_context&>(io));
}

LookupResults systemLookup(const std::string& host, const std::string& port, boost::system::error_code& error) {
  // A blocking lookup is getaddrinfo on the calling thread; a resolver of a context that never
  // runs starts no thread.
  static boost::asio::io_context* const neverRun = new boost::asio::io_context();  // leaked: used to the end
  boost::asio::ip::tcp::resolver resolver(*neverRun);
  return resolver.resolve(host, port, error);
}

// Leaked on purpose, as GlobalService's: shared() may run while static objects are destroyed.
std::mutex& sharedMutex() {
  static std::mutex* const mutex = new std::mutex();
  return *mutex;
}

std::weak_ptr<LookupThreads>& sharedSlot() {
  static std::weak_ptr<LookupThreads>* const slot = new std::weak_ptr<LookupThreads>();
  return *slot;
}

}  // namespace

struct LookupThreads::Pool {
  explicit Pool(int count) : threads(static_cast<std::size_t>(count)) {}
  boost::asio::thread_pool threads;
};

std::shared_ptr<LookupThreads> LookupThreads::shared() {
  std::lock_guard<std::mutex> lock(sharedMutex());
  std::shared_ptr<LookupThreads> threads = sharedSlot().lock();
  if (!threads) {
    threads = std::make_shared<LookupThreads>(kLookupThreads, systemLookup);
    sharedSlot() = threads;
  }
  return threads;
}

LookupThreads::LookupThreads(int count, Resolve resolve)
    : resolve_(std::move(resolve)), pool_(std::make_unique<Pool>(count)) {}

LookupThreads::~LookupThreads() {
  pool_->threads.stop();
  pool_->threads.join();
}

void LookupThreads::run(std::function<void()> job) { boost::asio::post(pool_->threads, std::move(job)); }

void useLookupThreads(boost::asio::io_context& io, std::shared_ptr<LookupThreads> threads) {
  serviceOf(io).setThreads(std::move(threads));
}

NameLookup::NameLookup(boost::asio::io_context& io) : io_(io), queue_(serviceOf(io).queue()) {}

NameLookup::~NameLookup() {
  if (pending_ != 0) queue_->forget(pending_);
}

void NameLookup::start(const std::string& host, std::uint16_t port, Handler handler) {
  std::shared_ptr<LookupThreads> threads = serviceOf(io_).threads();
  pending_ = queue_->add(std::move(handler));
  // The job holds the pool by pointer only (so that it is never released on one of its own
  // threads): the pool outlives its jobs, as its destructor drops queued ones and waits for a
  // running one.
  LookupThreads* const pool = threads.get();
  pool->run([queue = queue_, id = pending_, host, port = std::to_string(port), pool] {
    if (!queue->wanted(id)) return;  // cancelled while queued: spare the lookup
    boost::system::error_code error;
    LookupResults results = pool->resolve()(host, port, error);
    queue->finish(id, error, std::move(results));
  });
  threads_ = std::move(threads);
}

void NameLookup::cancel() {
  if (pending_ != 0) queue_->finish(pending_, boost::asio::error::operation_aborted, LookupResults());
}

}  // namespace asio
}  // namespace Talvo
