#include "ConsoleServer.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include "ConsolePage.h"
#include "ExitError.h"

namespace qrmhost {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;
using Answer = http::response<http::string_body>;

// A request must arrive whole within this time; a write to a viewer must end within it (a viewer
// that stops reading is let go).
constexpr auto kIdle = std::chrono::seconds(30);
// Server-Sent Events get a comment this often, so that a gone reader is noticed.
constexpr auto kEventKeepAlive = std::chrono::seconds(15);
constexpr char kBoundary[] = "qrmhostpicture";
constexpr int kViewerSendBuffer = 256 * 1024;
constexpr char kCookie[] = "qrmhost_token";

// Compares without leaking where the texts differ.
bool sameSecret(const std::string& given, const std::string& secret) {
  if (given.size() != secret.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < given.size(); ++i) difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
  return difference == 0;
}

// The value of `name` in a Cookie header, or "".
std::string cookieValue(beast::string_view header, const std::string& name) {
  std::string text(header);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(';', at);
    if (end == std::string::npos) end = text.size();
    std::string pair = text.substr(at, end - at);
    const size_t first = pair.find_first_not_of(' ');
    if (first != std::string::npos) pair.erase(0, first);
    if (pair.compare(0, name.size() + 1, name + "=") == 0) return pair.substr(name.size() + 1);
    at = end + 1;
  }
  return "";
}

// The value of `name` in a query "a=1&b=2", or "".
std::string queryValue(const std::string& query, const std::string& name) {
  size_t at = 0;
  while (at <= query.size()) {
    size_t end = query.find('&', at);
    if (end == std::string::npos) end = query.size();
    if (query.compare(at, name.size() + 1, name + "=") == 0) return query.substr(at + name.size() + 1, end - at - name.size() - 1);
    at = end + 1;
  }
  return "";
}

Answer answer(http::status status, const std::string& type, std::string body) {
  Answer result{status, 11};
  result.set(http::field::server, "qrmhost");
  result.set(http::field::content_type, type);
  result.set(http::field::cache_control, "no-store");
  result.set("X-Content-Type-Options", "nosniff");
  result.body() = std::move(body);
  return result;
}

// {"code":N,"error":"..."}: every refusal of the API.
Answer refusal(http::status status, const std::string& reason) {
  nlohmann::ordered_json body{{"code", static_cast<int>(status)}, {"error", reason}};
  return answer(status, "application/json", body.dump() + "\n");
}

class Session;

}  // namespace

// Members end in reverse order: the thread (joined), the acceptor, then the context with the
// handlers it still holds (their sessions count down `connections`).
struct ConsoleServer::State {
  State(ServeContent& content, std::string token) : content(content), token(std::move(token)) {}

  ServeContent& content;
  const std::string token;
  size_t connections = 0;                         // server thread
  std::set<std::shared_ptr<Session>> streaming;  // server thread: kept alive while they stream
  asio::io_context context;
  tcp::acceptor acceptor{context};
  std::thread thread;

  // The POSTs run one at a time on a worker of their own: they may wait for a camera.
  std::mutex postsMutex;
  std::condition_variable postsChanged;
  std::deque<std::function<void()>> posts;  // guarded by postsMutex
  bool postsEnd = false;                     // guarded by postsMutex
  std::thread postWorker;

  void accept();
  // False when kMaxWaitingPosts wait already.
  bool queuePost(std::function<void()> post);
  void runPosts();
};

namespace {

// One connection: requests one after the other, until one of them turns into a stream.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, ConsoleServer::State& server) : stream_(std::move(socket)), server_(server) {
    ++server_.connections;
  }
  ~Session() {
    if (listener_) source_->leave(listener_.get());
    --server_.connections;
  }

  void readRequest() {
    parser_.emplace();
    parser_->header_limit(ConsoleServer::kHeadLimit);
    parser_->body_limit(ConsoleServer::kBodyLimit);
    stream_.expires_after(kIdle);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, size_t) { self->onRequest(error); });
  }

 private:
  enum class Streaming { No, Pictures, Events };

  void onRequest(beast::error_code error) {
    if (error == http::error::header_limit)
      return reply(refusal(http::status::request_header_fields_too_large, "the request head is too long"), false);
    if (error == http::error::body_limit)
      return reply(refusal(http::status::payload_too_large, "the request body is too long"), false);
    if (error == http::error::end_of_stream || error == beast::error::timeout) return close();
    if (error.category() == http::make_error_code(http::error::bad_method).category())
      return reply(refusal(http::status::bad_request, "not an HTTP request"), false);
    if (error) return close();
    route(parser_->get());
  }

  void route(const Request& request) {
    const std::string target(request.target());
    const size_t question = target.find('?');
    const std::string path = target.substr(0, question);
    const std::string query = question == std::string::npos ? "" : target.substr(question + 1);
    const bool keepAlive = request.keep_alive();
    if (path == "/login" && request.method() == http::verb::get) return login(query, keepAlive);
    if (!authorized(request)) {
      auto refused = refusal(http::status::unauthorized, "a token is needed: Authorization: Bearer TOKEN, or /login?token=TOKEN");
      refused.set(http::field::www_authenticate, "Bearer");
      return reply(std::move(refused), keepAlive);
    }
    if (request.method() == http::verb::post) return post(request, path, keepAlive);
    if (request.method() != http::verb::get)
      return reply(refusal(http::status::method_not_allowed, "only GET and POST are served"), keepAlive);
    if (path == "/") {
      auto page = answer(http::status::ok, "text/html; charset=utf-8", kConsolePage);
      page.set("Content-Security-Policy", "default-src 'self'; style-src 'self' 'unsafe-inline'; "
                                          "script-src 'self' 'unsafe-inline'; img-src 'self' data: blob:");
      return reply(std::move(page), keepAlive);
    }
    if (path == "/api/channels")
      return reply(answer(http::status::ok, "application/json", server_.content.channelsJson()), keepAlive);
    if (path == "/metrics")
      return reply(answer(http::status::ok, "text/plain; version=0.0.4; charset=utf-8", server_.content.metricsText()),
                   keepAlive);
    // A comment first, so that a reader knows when it is listening.
    if (path == "/api/events")
      return startStream(server_.content.events(), Streaming::Events, std::make_shared<const std::string>(": listening\n\n"));
    const std::string prefix = "/api/channels/";
    if (path.compare(0, prefix.size(), prefix) == 0) return channelRequest(path.substr(prefix.size()), keepAlive);
    reply(refusal(http::status::not_found, "no such path"), keepAlive);
  }

  bool authorized(const Request& request) const {
    const std::string& token = server_.token;
    if (token.empty()) return true;
    const std::string authorization(request[http::field::authorization]);
    const std::string bearer = "Bearer ";
    if (authorization.compare(0, bearer.size(), bearer) == 0 && sameSecret(authorization.substr(bearer.size()), token))
      return true;
    return sameSecret(cookieValue(request[http::field::cookie], kCookie), token);
  }

  void login(const std::string& query, bool keepAlive) {
    const std::string& token = server_.token;
    if (token.empty()) {
      Answer redirect = answer(http::status::see_other, "text/plain", "");
      redirect.set(http::field::location, "/");
      return reply(std::move(redirect), keepAlive);
    }
    if (!sameSecret(queryValue(query, "token"), token))
      return reply(refusal(http::status::unauthorized, "wrong token"), keepAlive);
    Answer redirect = answer(http::status::see_other, "text/plain", "");
    redirect.set(http::field::location, "/");
    redirect.set(http::field::set_cookie, std::string(kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict");
    reply(std::move(redirect), keepAlive);
  }

  // Every POST: JSON only, and never from a page of another origin. The content runs it on the
  // worker; the answer comes back to this connection on the server's thread.
  void post(const Request& request, const std::string& path, bool keepAlive) {
    const std::string type(request[http::field::content_type]);
    if (type.substr(0, type.find(';')) != "application/json")
      return reply(refusal(http::status::unsupported_media_type, "the body must be application/json"), keepAlive);
    const std::string origin(request[http::field::origin]);
    if (!origin.empty() && origin != "http://" + std::string(request[http::field::host]))
      return reply(refusal(http::status::forbidden, "requests from another origin are refused"), keepAlive);
    if (path.rfind("/api/cameras/", 0) != 0) return reply(refusal(http::status::not_found, "no such path"), keepAlive);
    auto self = shared_from_this();
    const auto executor = stream_.get_executor();
    // The worker hands its reference to the session back with the answer, so that the session
    // always ends on the server's thread.
    const bool queued = server_.queuePost([self, executor, path, body = request.body(), keepAlive]() mutable {
      auto outcome = self->server_.content.post(path, body);
      asio::post(executor, [self = std::move(self), outcome = std::move(outcome), keepAlive] {
        self->reply(answer(static_cast<http::status>(outcome.status), "application/json", outcome.json + "\n"),
                    keepAlive);
      });
    });
    if (!queued) reply(refusal(http::status::service_unavailable, "too many requests wait for cameras"), keepAlive);
  }

  void channelRequest(const std::string& rest, bool keepAlive) {
    const size_t slash = rest.find('/');
    const std::string id = rest.substr(0, slash);
    const std::string what = slash == std::string::npos ? "" : rest.substr(slash + 1);
    if (what != "live.mjpeg" && what != "snapshot.jpg") return reply(refusal(http::status::not_found, "no such path"), keepAlive);
    const auto pictures = server_.content.pictures(id);
    if (!pictures) return reply(refusal(http::status::not_found, "no channel " + id.substr(0, 32)), keepAlive);
    if (!pictures->refusal.empty()) return reply(refusal(http::status::conflict, pictures->refusal), keepAlive);
    if (what == "live.mjpeg") return startStream(*pictures->broadcast, Streaming::Pictures, pictures->broadcast->latest());
    const auto latest = pictures->broadcast->latest();
    if (!latest) return reply(refusal(http::status::service_unavailable, "no picture yet"), keepAlive);
    reply(answer(http::status::ok, "image/jpeg", *latest), keepAlive);
  }

  void reply(Answer answer, bool keepAlive) {
    answer.keep_alive(keepAlive);
    answer.prepare_payload();
    auto held = std::make_shared<Answer>(std::move(answer));
    stream_.expires_after(kIdle);
    http::async_write(stream_, *held, [self = shared_from_this(), held](beast::error_code error, size_t) {
      if (error || !held->keep_alive()) return self->close();
      self->readRequest();
    });
  }

  // The rest of the connection is one stream of the broadcast's items, the first one `first`.
  void startStream(Broadcast& source, Streaming kind, Broadcast::Item first) {
    const auto executor = stream_.get_executor();
    std::weak_ptr<Session> weak = shared_from_this();
    listener_ = source.join([weak, executor] {
      asio::post(executor, [weak] {
        if (auto self = weak.lock()) self->pump();
      });
    });
    if (!listener_) {
      const char* reason = kind == Streaming::Pictures ? "this channel has as many viewers as it takes"
                                                       : "the events have as many readers as they take";
      return reply(refusal(http::status::service_unavailable, reason), false);
    }
    // The kernel's own buffer for a viewer stays small too: what a stalled viewer holds is bounded
    // by it and the queue, and it falls behind (and loses pictures) within a few pictures.
    beast::error_code ignored;
    stream_.socket().set_option(asio::socket_base::send_buffer_size(kViewerSendBuffer), ignored);
    source_ = &source;
    streaming_ = kind;
    server_.streaming.insert(shared_from_this());
    head_ = "HTTP/1.1 200 OK\r\nServer: qrmhost\r\nCache-Control: no-store\r\nConnection: close\r\nContent-Type: ";
    head_ += kind == Streaming::Pictures ? std::string("multipart/x-mixed-replace; boundary=") + kBoundary
                                         : std::string("text/event-stream");
    head_ += "\r\n\r\n";
    if (kind == Streaming::Events) keepEventsAlive();
    writing_ = true;
    stream_.expires_after(kIdle);
    asio::async_write(stream_, asio::buffer(head_), [self = shared_from_this(), first](beast::error_code error, size_t) {
      self->writing_ = false;
      if (error) return self->close();
      if (first) return self->send(first);
      self->pump();
    });
  }

  void pump() {
    if (writing_ || closed_) return;
    if (auto item = listener_->next()) send(std::move(item));
  }

  void send(Broadcast::Item item) {
    writing_ = true;
    current_ = std::move(item);
    std::array<asio::const_buffer, 3> buffers;
    size_t count = 1;
    if (streaming_ == Streaming::Pictures) {
      partHead_ = std::string("--") + kBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                  std::to_string(current_->size()) + "\r\n\r\n";
      buffers = {asio::buffer(partHead_), asio::buffer(*current_), asio::buffer("\r\n", 2)};
      count = 3;
    } else {
      buffers[0] = asio::buffer(*current_);
    }
    stream_.expires_after(kIdle);
    asio::async_write(stream_, std::vector<asio::const_buffer>(buffers.begin(), buffers.begin() + count),
                      [self = shared_from_this()](beast::error_code error, size_t) {
                        self->writing_ = false;
                        self->current_.reset();
                        if (error) return self->close();
                        self->pump();
                      });
  }

  void keepEventsAlive() {
    if (!keepAlive_) keepAlive_.emplace(stream_.get_executor());
    keepAlive_->expires_after(kEventKeepAlive);
    keepAlive_->async_wait([weak = std::weak_ptr<Session>(shared_from_this())](beast::error_code error) {
      auto self = weak.lock();
      if (error || !self || self->closed_) return;
      if (!self->writing_) self->send(std::make_shared<const std::string>(": keep-alive\n\n"));
      self->keepEventsAlive();
    });
  }

  void close() {
    if (closed_) return;
    closed_ = true;
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
    if (keepAlive_) keepAlive_->cancel();
    if (streaming_ != Streaming::No) server_.streaming.erase(shared_from_this());
  }

  beast::tcp_stream stream_;
  ConsoleServer::State& server_;
  beast::flat_buffer buffer_{ConsoleServer::kHeadLimit + ConsoleServer::kBodyLimit};
  std::optional<http::request_parser<http::string_body>> parser_;
  Streaming streaming_ = Streaming::No;
  Broadcast* source_ = nullptr;
  std::shared_ptr<Broadcast::Listener> listener_;
  std::string head_;
  std::string partHead_;
  Broadcast::Item current_;
  bool writing_ = false;
  bool closed_ = false;
  std::optional<asio::steady_timer> keepAlive_;
};

}  // namespace

void ConsoleServer::State::accept() {
  acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
    if (error == asio::error::operation_aborted) return;
    if (!error && connections < kMaxConnections) std::make_shared<Session>(std::move(socket), *this)->readRequest();
    accept();
  });
}

bool ConsoleServer::State::queuePost(std::function<void()> post) {
  {
    std::lock_guard<std::mutex> lock(postsMutex);
    if (postsEnd || posts.size() >= kMaxWaitingPosts) return false;
    posts.push_back(std::move(post));
  }
  postsChanged.notify_one();
  return true;
}

void ConsoleServer::State::runPosts() {
  for (;;) {
    std::function<void()> post;
    {
      std::unique_lock<std::mutex> lock(postsMutex);
      postsChanged.wait(lock, [this] { return postsEnd || !posts.empty(); });
      if (postsEnd) return;
      post = std::move(posts.front());
      posts.pop_front();
    }
    post();
  }
}

ConsoleServer::ConsoleServer(ServeContent& content, const std::string& address, unsigned short port, std::string token)
    : state_(std::make_unique<State>(content, std::move(token))) {
  beast::error_code error;
  const auto ip = asio::ip::make_address(address, error);
  if (error) throw usageError("--listen: " + address + " is not an IP address");
  const tcp::endpoint endpoint(ip, port);
  auto& acceptor = state_->acceptor;
  acceptor.open(endpoint.protocol(), error);
  if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error) throw usageError("--listen: cannot listen on " + address + ":" + std::to_string(port) + ": " + error.message());
}

ConsoleServer::~ConsoleServer() {
  state_->context.stop();
  if (state_->thread.joinable()) state_->thread.join();
  {
    std::lock_guard<std::mutex> lock(state_->postsMutex);
    state_->postsEnd = true;
  }
  state_->postsChanged.notify_one();
  if (state_->postWorker.joinable()) state_->postWorker.join();
  // Both threads have ended: the waiting POSTs and the streaming sessions go with their sockets.
  state_->posts.clear();
  state_->streaming.clear();
}

std::string ConsoleServer::url() const {
  const auto endpoint = state_->acceptor.local_endpoint();
  const auto address = endpoint.address();
  const std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
  return "http://" + host + ":" + std::to_string(endpoint.port()) + "/";
}

void ConsoleServer::start() {
  state_->accept();
  state_->thread = std::thread([this] { state_->context.run(); });
  state_->postWorker = std::thread([this] { state_->runPosts(); });
}

}  // namespace qrmhost
