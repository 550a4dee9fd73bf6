// Camera requests: answer parsing, the "http" error category, building requests and starting
// the asynchronous operation (Nuvlet/include/AsyncHttp.h).
#include "host/Nuvlet/Http.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/asio/post.hpp>

#include "Nuvlet/include/AsyncHttp.h"
#include "host/Nuvlet/Base64.h"

namespace Talvo {
namespace http {

namespace {

constexpr size_t kMaxHeaders = 100;
const char kUserAgent[] = "Orsel.Vantrel/3.78";

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Token characters of header names.
bool isTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

// Characters allowed in a reason phrase and in header values: visible ASCII, blank, tab and
// bytes >= 0x80; no other control character.
bool isTextChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u == '\t' || (u >= 0x20 && u != 0x7f);
}

// Position of the "\r\n" ending the line that starts at `begin`, or null.
const char* findLineEnd(const char* begin, const char* end) {
  for (const char* p = begin; p + 1 < end; ++p)
    if (p[0] == '\r' && p[1] == '\n') return p;
  return nullptr;
}

class HttpCategory : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "http"; }
  std::string message(int status) const override { return "HTTP status " + std::to_string(status); }
};

std::string base64(const std::string& text) { return Utility::base64Encode(text); }

bool hasLineBreakOrNul(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Headers written by the request itself; a caller's copies of them are dropped.
bool isOwnHeader(const std::string& name) {
  for (const char* own : {"Host", "Connection", "Authorization", "User-Agent", "Content-Length"})
    if (boost::algorithm::iequals(name, own)) return true;
  return false;
}

std::string normalisedTarget(const std::string& uri) {
  if (uri.empty()) return "/";
  return uri[0] == '/' ? uri : "/" + uri;
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return lowerAscii(x) < lowerAscii(y); });
}

std::string HttpResponse::header(const std::string& name, bool* found) const {
  const auto it = headers.find(name);
  if (found) *found = it != headers.end();
  return it != headers.end() ? it->second : std::string();
}

const boost::system::error_category& http_category() {
  static const HttpCategory category;
  return category;
}

int translateResponseError(const HttpResponse& response) {
  if (response.isSuccess()) return 0;
  if (response.status == 0) return 10;
  return response.status;
}

size_t parseStatusLine(const char* begin, const char* end, HttpResponse& response) {
  const char* lineEnd = findLineEnd(begin, end);
  if (lineEnd == nullptr) return 0;
  const size_t length = static_cast<size_t>(lineEnd - begin);
  // "HTTP/d.d ddd" is 12 characters; then nothing, or a blank and the reason phrase.
  if (length < 12 || std::memcmp(begin, "HTTP/", 5) != 0 || !isDigit(begin[5]) || begin[6] != '.' ||
      !isDigit(begin[7]) || begin[8] != ' ' || !isDigit(begin[9]) || !isDigit(begin[10]) || !isDigit(begin[11]))
    return 0;
  if (begin[9] == '0') return 0;
  if (length > 12 && begin[12] != ' ') return 0;
  const char* text = begin + std::min<size_t>(length, 13);
  if (!std::all_of(text, lineEnd, isTextChar)) return 0;
  response.version.assign(begin, 8);
  response.status = (begin[9] - '0') * 100 + (begin[10] - '0') * 10 + (begin[11] - '0');
  response.statusText.assign(text, lineEnd);
  return length + 2;
}

size_t parseHeaders(const char* begin, const char* end, HttpHeaders& headers) {
  HttpHeaders parsed;
  const char* line = begin;
  while (true) {
    const char* lineEnd = findLineEnd(line, end);
    if (lineEnd == nullptr) return 0;
    if (lineEnd == line) break;  // the empty line ends the block
    if (parsed.size() >= kMaxHeaders) return 0;
    const char* colon = std::find(line, lineEnd, ':');
    // No name, a blank before the colon or a continuation line (obs-fold): malformed.
    if (colon == lineEnd || colon == line || !std::all_of(line, colon, isTokenChar)) return 0;
    if (!std::all_of(colon + 1, lineEnd, isTextChar)) return 0;
    std::string value(colon + 1, lineEnd);
    boost::algorithm::trim_if(value, [](char c) { return c == ' ' || c == '\t'; });
    parsed.emplace(std::string(line, colon), std::move(value));
    line = lineEnd + 2;
  }
  for (auto& header : parsed) headers.insert(std::move(header));
  return static_cast<size_t>(line + 2 - begin);
}

Authorizer createDefaultAuthorizer() {
  return [](const asio::ConnectionInfo& info) -> std::string {
    if (info.user.empty()) return {};
    return "Basic " + base64(info.user + ":" + info.password);
  };
}

// ---- TLS ----

bool tlsVerificationEnabled() {
  static const bool enabled = [] {
    const char* value = std::getenv("ORSEL_VANTREL_TLS_VERIFY");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }();
  return enabled;
}

std::shared_ptr<boost::asio::ssl::context> clientTlsContext() {
  // One context for all requests: set up once, then only read (OpenSSL allows that from any thread).
  static const std::shared_ptr<boost::asio::ssl::context> context = [] {
    auto tls = std::make_shared<boost::asio::ssl::context>(boost::asio::ssl::context::tls_client);
    tls->set_options(boost::asio::ssl::context::default_workarounds | boost::asio::ssl::context::no_sslv2 |
                     boost::asio::ssl::context::no_sslv3);
    if (tlsVerificationEnabled()) {
      tls->set_default_verify_paths();
      tls->set_verify_mode(boost::asio::ssl::verify_peer);
    } else {
      // Cameras present self-signed certificates that nothing could verify.
      tls->set_verify_mode(boost::asio::ssl::verify_none);
    }
    return tls;
  }();
  return context;
}

namespace detail {

// ---- Requests ----

boost::system::error_code AsyncRequestContext::check() const {
  const auto invalid = error::make_error_code(error::bad_request);
  if (info.host.empty() || hasLineBreakOrNul(info.host)) return invalid;
  if (request.method.empty() || !std::all_of(request.method.begin(), request.method.end(), isTokenChar)) return invalid;
  for (char c : request.target)
    if (!isTextChar(c) || c == ' ' || c == '\t') return invalid;
  for (const auto& header : request.headers) {
    if (header.first.empty() || !std::all_of(header.first.begin(), header.first.end(), isTokenChar)) return invalid;
    if (!std::all_of(header.second.begin(), header.second.end(), isTextChar)) return invalid;
  }
  return {};
}

std::string AsyncRequestContext::text() const {
  std::string text = request.method + " " + normalisedTarget(request.target) + " HTTP/1.1\r\n";
  text += "Host: " + info.hostAndPort() + "\r\n";
  text += "Connection: close\r\n";
  const std::string authorization = createDefaultAuthorizer()(info);
  if (!authorization.empty()) text += "Authorization: " + authorization + "\r\n";
  text += std::string("User-Agent: ") + kUserAgent + "\r\n";
  for (const auto& header : request.headers)
    if (!isOwnHeader(header.first)) text += header.first + ": " + header.second + "\r\n";
  if (!request.body.empty() || request.method == "POST" || request.method == "PUT")
    text += "Content-Length: " + std::to_string(request.body.size()) + "\r\n";
  text += "\r\n";
  text += request.body;
  return text;
}

std::string AsyncRequestContext::describe() const {
  const std::string target = normalisedTarget(request.target);
  return request.method + " " + info.scheme + "://" + info.hostAndPort() + target.substr(0, target.find('?'));
}

AsyncGetExContext::AsyncGetExContext(const asio::ConnectionInfo& info, const std::string& uri)
    : AsyncRequestContext(info, HttpRequest{"GET", uri, {}, {}}) {}

AsyncPostExContext::AsyncPostExContext(const asio::ConnectionInfo& info, const std::string& uri,
                                       const std::string& body, const HttpHeaders& headers)
    : AsyncRequestContext(info, HttpRequest{"POST", uri, headers, body}) {}

// ---- Answers ----

size_t headEnd(const char* begin, const char* end) {
  static const char kEnd[] = "\r\n\r\n";
  const char* found = std::search(begin, end, kEnd, kEnd + 4);
  return found == end ? 0 : static_cast<size_t>(found + 4 - begin);
}

boost::system::error_code bodyFraming(const HttpResponse& response, size_t maxBody, BodyFraming& framing,
                                      size_t& length) {
  framing = BodyFraming::None;
  length = 0;
  const int status = response.status;
  if ((status >= 100 && status <= 199) || status == 204 || status == 304) return {};

  bool hasEncoding = false;
  std::string encoding = response.header("Transfer-Encoding", &hasEncoding);
  if (hasEncoding) {
    // Chunked only when it is the last coding; anything else ends with the connection.
    boost::algorithm::trim(encoding);
    const size_t comma = encoding.rfind(',');
    std::string last = comma == std::string::npos ? encoding : encoding.substr(comma + 1);
    boost::algorithm::trim(last);
    framing = boost::algorithm::iequals(last, "chunked") ? BodyFraming::Chunked : BodyFraming::UntilClose;
    return {};
  }

  const auto lengths = response.headers.equal_range("Content-Length");
  if (lengths.first == lengths.second) {
    framing = BodyFraming::UntilClose;
    return {};
  }
  const std::string& first = lengths.first->second;
  for (auto it = lengths.first; it != lengths.second; ++it)
    if (it->second != first) return error::make_error_code(error::bad_response);  // contradictory lengths
  if (first.empty() || first.size() > 18 || !std::all_of(first.begin(), first.end(), isDigit))
    return error::make_error_code(error::bad_response);
  const unsigned long long value = std::strtoull(first.c_str(), nullptr, 10);
  if (value > maxBody) return error::make_error_code(error::response_too_large);
  framing = BodyFraming::ContentLength;
  length = static_cast<size_t>(value);
  return {};
}

ChunkedBodyDecoder::Result ChunkedBodyDecoder::feed(const char* data, size_t size, size_t& used, Body& body,
                                                    size_t maxBody) {
  used = 0;
  while (used < size && state_ != State::Done) {
    switch (state_) {
      case State::SizeLine:
      case State::Trailer: {
        bool complete = false;
        const Result taken = takeLine(data + used, size - used, used, complete);
        if (taken != Result::NeedMore) return taken;
        if (!complete) return Result::NeedMore;
        const Result ended = state_ == State::SizeLine ? endSizeLine(body, maxBody) : endTrailerLine();
        if (ended != Result::NeedMore) return ended;
        break;
      }
      case State::Data: {
        const size_t n = std::min(chunkLeft_, size - used);
        body.insert(body.end(), data + used, data + used + n);
        used += n;
        chunkLeft_ -= n;
        if (chunkLeft_ == 0) state_ = State::DataEnd;
        break;
      }
      case State::DataEnd: {
        // The two bytes after the chunk data must be CRLF; they may arrive one at a time.
        line_.push_back(data[used++]);
        if (line_.size() == 1 && line_[0] != '\r') return Result::Malformed;
        if (line_.size() == 2) {
          if (line_[1] != '\n') return Result::Malformed;
          line_.clear();
          state_ = State::SizeLine;
        }
        break;
      }
      case State::Done:
        break;
    }
  }
  return state_ == State::Done ? Result::Done : Result::NeedMore;
}

// Collects a line into line_ up to its CRLF; `complete` when the CRLF was taken.
ChunkedBodyDecoder::Result ChunkedBodyDecoder::takeLine(const char* data, size_t size, size_t& used, bool& complete) {
  for (size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (!line_.empty() && line_.back() == '\r') {
      if (c != '\n') return Result::Malformed;
      line_.pop_back();
      used += i + 1;
      complete = true;
      return Result::NeedMore;
    }
    if (c == '\n') return Result::Malformed;  // a bare LF
    if (line_.size() >= kMaxLineSize) return Result::Malformed;
    line_.push_back(c);
  }
  used += size;
  return Result::NeedMore;
}

ChunkedBodyDecoder::Result ChunkedBodyDecoder::endSizeLine(const Body& body, size_t maxBody) {
  size_t i = 0;
  size_t value = 0;
  for (; i < line_.size() && std::isxdigit(static_cast<unsigned char>(line_[i])); ++i) {
    const char c = lowerAscii(line_[i]);
    value = value * 16 + static_cast<size_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    if (value > maxBody) return Result::TooLarge;  // checked at every digit: no overflow
  }
  if (i == 0) return Result::Malformed;
  // After the size only blanks and chunk extensions (";name=value") may follow.
  while (i < line_.size() && (line_[i] == ' ' || line_[i] == '\t')) ++i;
  if (i < line_.size() && line_[i] != ';') return Result::Malformed;
  if (!std::all_of(line_.begin() + static_cast<std::ptrdiff_t>(i), line_.end(), isTextChar)) return Result::Malformed;
  line_.clear();
  if (value > maxBody - body.size()) return Result::TooLarge;
  chunkLeft_ = value;
  state_ = value == 0 ? State::Trailer : State::Data;
  return Result::NeedMore;
}

ChunkedBodyDecoder::Result ChunkedBodyDecoder::endTrailerLine() {
  const bool empty = line_.empty();
  line_.clear();
  if (empty) {
    state_ = State::Done;
    return Result::Done;
  }
  if (++trailerLines_ > kMaxTrailerLines) return Result::Malformed;
  return Result::NeedMore;
}

void startRequest(const asio::ConnectionInfo& info, const HttpRequest& request, boost::asio::io_context& context,
                  const boost::posix_time::time_duration& timeout, Callback callback, AsyncOperationPtr& operation,
                  ILogger* logger) {
  auto created = std::make_shared<RequestOperation>(context, AsyncRequestContext(info, request), std::move(callback),
                                                    logger, timeout);
  operation = created;
  created->start();
}

}  // namespace detail

void asyncGetEx(const asio::ConnectionInfo& info, const std::string& uri, boost::asio::io_context& context,
                int timeoutSeconds, Callback callback, AsyncOperationPtr& operation, ILogger* logger) {
  auto created = std::make_shared<GetOperation>(context, detail::AsyncGetExContext(info, uri), std::move(callback),
                                                logger, boost::posix_time::seconds(timeoutSeconds));
  operation = created;
  created->start();
}

void asyncPostEx(const asio::ConnectionInfo& info, const std::string& uri, const std::string& body,
                 boost::asio::io_context& context, int timeoutSeconds, Callback callback, const HttpHeaders& headers,
                 AsyncOperationPtr& operation, ILogger* logger) {
  auto created =
      std::make_shared<PostOperation>(context, detail::AsyncPostExContext(info, uri, body, headers),
                                      std::move(callback), logger, boost::posix_time::seconds(timeoutSeconds));
  operation = created;
  created->start();
}

}  // namespace http
}  // namespace Talvo
