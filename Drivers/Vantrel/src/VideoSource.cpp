#include "VideoSource.h"
#include "ChannelLogger.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sstream>

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/format.hpp>

#include "Device.h"
#include "FrameStatisticReporter.h"
#include "Nuvlet/include/Contract.h"
#include "Nuvlet/include/HttpAnswerHead.h"
#include "Nuvlet/include/HttpDigest.h"
#include "PictureCheck.h"
#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/HttpCategory.h"
#include "host/Nuvlet/Time.h"

namespace Vantrel {

using Talvo::Utility::anyOr;
using Talvo::Utility::ParamsMap;

namespace {

// Pause between a broken connection and the next attempt.
const auto kReconnectPause = std::chrono::milliseconds(500);
// The pause after the camera refused the credentials doubles up to this.
const auto kMaxAuthPause = std::chrono::seconds(30);
// The longest silence on a live stream (the library's connect time-out, read at run time: it
// lives in another library).
std::chrono::milliseconds silenceGuard() {
  return std::chrono::milliseconds(Talvo::asio::DEFAULT_CONNECT_TIMEOUT.total_milliseconds());
}
// The most one read takes from the socket.
const size_t kReadChunk = 256 * 1024;
// While bodies go straight to the host, reads into the receive buffer take little more than a
// trailer and a part head, so that the next body is left in the socket.
const size_t kHeadReadChunk = 4 * 1024;
// The first bytes of a picture that tell a key picture from a delta picture, as a rule. Shorter
// bodies are copied: that costs next to nothing.
const size_t kKindBytes = 1024;
// Bodies up to this size may go straight to the host (a wrong length puts the body back in
// front of the receive buffer, which must then still have room).
const size_t kMaxDirectBody = ServerPushReader::kMaxPartSize / 2;
// The answer head of the stream is short; more without its end is no camera's answer.
const size_t kMaxAnswerHead = 16 * 1024;
// A per-part warning is written once for this many of its kind.
const uint32_t kWarningCollapse = 100;

std::unique_ptr<ReceiveBuffer> freshBuffer() {
  return std::make_unique<ReceiveBuffer>(ServerPushReader::kMaxPartSize);
}

// Each channel object its own key, so that one channel's flood does not hide another's line.
std::string nextCollapseKey(const std::string& prefix) {
  static std::atomic<uint64_t> counter{0};
  return prefix + "#" + std::to_string(++counter);
}

bool isCredentialRefusal(const boost::system::error_code& error) {
  return error.category() == Talvo::http::http_category() && (error.value() == 401 || error.value() == 403);
}

}  // namespace

VideoSource::VideoSource(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t stream, uint32_t channel,
                         Talvo::MFF::IMultimediaFrameFactory* factory, Device* device)
    : Talvo::Utility::SimpleAdjuster(static_cast<Talvo::GDRV::IVideoSource*>(this)),
      Talvo::LoggerOwner(channelLogger(device, (boost::format("vs %1%.%2%") % channel % stream).str())),
      device_(device),
      channel_(channel),
      stream_(stream),
      deviceData_(device->deviceData()),
      handler_(handler),
      factory_(factory),
      buffer_(freshBuffer()),
      authPause_(kReconnectPause),
      collapseKey_(nextCollapseKey(prefix())) {
  const auto& channels = device->modelEntry().videoChannels;
  if (channel < channels.size())
    useCameraFps_ = Talvo::GDRV::intProperty(channels[channel].parameters, "useMaxFpsAsCameraSetting") > 0;
  Talvo::Utility::videoSourceInitializeParams(parameters_, channel, stream, device->modelEntry(), device->driverInfo(),
                                              initialParameters_);
}

// Runs after the worker ended (Destroy waits for it, or the worker itself deletes the channel).
VideoSource::~VideoSource() {
  if (worker_.joinable() && worker_.get_id() != boost::this_thread::get_id()) worker_.join();
}

void* VideoSource::QueryContract(const char* typeName) {
  using Talvo::Utility::castTo;
  using Talvo::Utility::Path;
  return castTo<Path<Talvo::IAsyncAdjuster>, Path<Talvo::IContract, Talvo::GDRV::IVideoSource>,
                Path<Talvo::GDRV::IVideoSource>, Path<Talvo::GDRV::IDeviceChannel>>(this, typeName);
}

void VideoSource::Destroy() {
  std::unique_lock<std::mutex> lock(workerMutex_);
  restart_ = false;
  if (running_) {
    interruptSession();
    if (worker_.get_id() == boost::this_thread::get_id()) {
      selfDelete_ = true;  // the worker is in a callback of ours: it deletes the channel as it ends
      return;
    }
    waitForSessionEnd(lock);
  }
  boost::thread finished = std::move(worker_);
  lock.unlock();
  if (finished.joinable()) finished.join();
  delete this;
}

void VideoSource::Start() {
  std::unique_lock<std::mutex> lock(workerMutex_);
  if (selfDelete_) return;
  if (running_) {
    if (stop_) restart_ = true;  // the ending session is followed by a new one
    return;
  }
  boost::thread finished = std::move(worker_);  // its thread has left every member alone
  stop_ = false;
  running_ = true;
  worker_ = boost::thread([this] { workerMain(); });
  lock.unlock();
  if (finished.joinable()) finished.join();
}

void VideoSource::Stop() {
  std::unique_lock<std::mutex> lock(workerMutex_);
  restart_ = false;
  if (!running_) return;
  interruptSession();
  if (worker_.get_id() == boost::this_thread::get_id()) return;  // the session ends after the callback
  waitForSessionEnd(lock);
}

void VideoSource::interruptSession() {
  {
    std::lock_guard<std::mutex> stopLock(stopMutex_);
    stop_ = true;
  }
  stopChanged_.notify_all();
  // Asio objects are not thread-safe: the close runs on the worker, ending a read or a connect.
  boost::asio::post(io_, [this] {
    boost::system::error_code ignored;
    socket_.close(ignored);
  });
  for (Talvo::http::HttpSession* session : sessions_) session->cancel();
}

void VideoSource::waitForSessionEnd(std::unique_lock<std::mutex>& lock) {
  const uint64_t target = sessionEnds_ + 1;
  sessionEnded_.wait(lock, [&] { return !running_ || sessionEnds_ >= target; });
}

void VideoSource::workerMain() {
  for (;;) {
    grab();
    std::unique_lock<std::mutex> lock(workerMutex_);
    ++sessionEnds_;
    sessionEnded_.notify_all();
    if (restart_ && !selfDelete_) {
      restart_ = false;
      stop_ = false;
      continue;
    }
    running_ = false;
    if (!selfDelete_) return;
    worker_.detach();  // this thread ends with the channel it deletes
    lock.unlock();
    delete this;
    return;
  }
}

VideoSource::CancellableSession::CancellableSession(VideoSource& owner)
    : owner_(owner), session_(owner.device_->cameraConnection(), owner.logger()) {
  std::lock_guard<std::mutex> lock(owner_.workerMutex_);
  owner_.sessions_.push_back(&session_);
  if (owner_.stop_) session_.cancel();
}

VideoSource::CancellableSession::~CancellableSession() {
  std::lock_guard<std::mutex> lock(owner_.workerMutex_);
  auto& sessions = owner_.sessions_;
  sessions.erase(std::remove(sessions.begin(), sessions.end(), &session_), sessions.end());
}

void VideoSource::RequestKeyFrame(Talvo::IAsyncActionHandler* handler) {
  if (handler) handler->Finished(contract(), 8);
}

int32_t VideoSource::SetBlockConfiguration(bool block) {
  parameters_.setPersistentParam("blockConfiguration", block);
  return 1;
}

bool VideoSource::waitWhileRunning(std::chrono::milliseconds pause) {
  std::unique_lock<std::mutex> lock(stopMutex_);
  return !stopChanged_.wait_for(lock, pause, [this] { return stop_.load(); });
}

int VideoSource::frameReportInterval() const {
  return anyOr<int>(parameters_.getPersistentParam("frameReportInterval"), 0);
}

std::string VideoSource::statisticsLine() const {
  return statistics_ ? statistics_->getFramesStatistic(Talvo::Utility::timeStamp(), 0, false) : std::string();
}

void VideoSource::grab() {
  workerThread_.reset();  // this thread owns the stream and the settings until grab ends
  NUVLET_DCHECK_CALLED_ON(onWorkerThread());
  io_.restart();
  io_.poll();  // a close posted by the Stop that ended the last session belongs to it
  outageReported_ = false;
  lastPicture_ = Clock::now();
  authPause_ = kReconnectPause;
  slowLinkLogged_ = false;
  device_->registerEventChannel(channel_);
  device_->audioStreamStarted(channel_, stream_);
  statistics_.reset(new FrameStatisticReporter(*this, handler_, contract(), device_->ioContext()));
  if (handler_) handler_->Started(contract());
  NLOG(*this, 0, " Started");
  while (!stop_) {
    try {
      while (parameters_.hasPending() && !stop_) doApplySettings();
      const std::string codec = Talvo::Utility::getCodecName(parameters_, device_->driverInfo(), "Zelta");
      if (codec == "MJPEG" || codec == "Zelta")
        grabFrame(codec);
      else
        waitWhileRunning(kReconnectPause);  // nothing to receive; do not spin while waiting for settings
    } catch (const std::exception& e) {
      NLOG(*this, 3, " std::exception:" << e.what());
      break;
    }
  }
  device_->unregisterEventChannel(channel_);
  device_->audioStreamEnded(channel_, stream_);  // after the last audio block of this session
  if (statistics_) NLOG(*this, 1, " All " << statisticsLine());
  const std::unique_ptr<FrameStatisticReporter> statistics = std::move(statistics_);
  NLOG(*this, 0, " Stopped");
  workerThread_.reset();
  // Stopped queues behind the channel's statistics lines: nothing of the channel follows it.
  statistics->reportStopAfterLastLine();
}

void VideoSource::restartRateWindow() {
  rateWindowStart_ = Clock::now();
  rateWindowPictures_ = 0;
}

void VideoSource::watchRate(bool delivered) {
  rateWindowPictures_ += delivered;
  const Clock::time_point now = Clock::now();
  if (now - rateWindowStart_ < kSlowLinkWindow) return;
  // With the camera's own rate asked for, no rate is configured to compare with.
  const int configured = useCameraFps_ ? 0 : anyOr<int>(parameters_.getPersistentParam("fps"), 20);
  const double seconds = std::chrono::duration<double>(now - rateWindowStart_).count();
  const double rate = rateWindowPictures_ / seconds;
  const bool slow = configured > 0 && rate < configured / 2.0;
  if (slow && !slowLinkLogged_)
    NLOG(*this, 1,
         " Slow link: " << std::round(rate * 10) / 10 << " pictures/s for " << kSlowLinkWindow.count()
                        << " s, less than half of the configured " << configured);
  slowLinkLogged_ = slow;
  restartRateWindow();
}

void VideoSource::reportOutage(int code) {
  if (outageReported_ || stop_) return;  // a read that ends because the host stopped is no outage
  outageReported_ = true;
  if (handler_) handler_->Failed(contract(), code);
}

void VideoSource::grabFrame(const std::string& codec) {
  NUVLET_DCHECK_CALLED_ON(onWorkerThread());
  ServerPushReader reader;
  while (!stop_) {
    if (parameters_.hasPending()) {
      NLOG(*this, 1, " Reconect, as parameters was changed");
      NLOG(*this, 1, " " << statisticsLine());
      break;
    }
    device_->applyAudioSettings(channel_);
    try {
      if (!socket_.is_open()) {
        statistics_->onConnectionStart();
        statistics_->resetFrameCounter(frameReportInterval(), 90);
        init(reader);
      }
      const bool delivered = receivePart(reader, codec);
      trimBuffer();
      watchRate(delivered);
      if (delivered) {
        lastPicture_ = Clock::now();
        outageReported_ = false;  // the outage, if any, is over
        authPause_ = kReconnectPause;
      } else if (!outageReported_ && Clock::now() - lastPicture_ >= kBadDataReport) {
        NLOG(*this, 3, " No picture could be delivered for " << kBadDataReport.count() << " s: bad data");
        reportOutage(
            Talvo::Utility::translateSystemError(boost::system::error_code(EBADMSG, boost::system::system_category())));
      }
    } catch (const boost::system::system_error& e) {
      if (stop_) break;  // the host stopped the source: the cancelled read is no error
      NLOG(*this, 3,
           " Error stream receiving: " << e.code().category().name() << ":" << e.code().value() << "." << e.what());
      NLOG(*this, 1, " " << statisticsLine());
      reportOutage(Talvo::Utility::translateSystemError(e.code()));
      boost::system::error_code ignored;
      socket_.close(ignored);
      trimBuffer();
      auto pause = kReconnectPause;
      if (isCredentialRefusal(e.code())) {
        pause = authPause_;  // retrying a wrong password at once could lock the camera's account
        authPause_ = std::min<std::chrono::milliseconds>(authPause_ * 2, kMaxAuthPause);
      }
      waitWhileRunning(pause);
    } catch (const std::exception& e) {
      NLOG(*this, 3, " std::exception:" << e.what());  // the stream goes on
    }
  }
  boost::system::error_code ignored;
  socket_.close(ignored);
}

std::string VideoSource::streamPath(const std::string& codec) const {
  std::ostringstream path;
  path << "/control/faststream.jpg?stream=" << (codec == "Zelta" ? "Zelta" : "full");
  if (codec == "Zelta") {
    const int interval = anyOr<int>(parameters_.getPersistentParam("keyFrameInterval"), 0);
    if (interval != 0) path << "&iframerefresh=" << interval;
  }
  if (useCameraFps_)
    path << "&fps=0";
  else
    path << "&fps=" << anyOr<int>(parameters_.getPersistentParam("fps"), 20);
  return path.str();
}

void VideoSource::init(ServerPushReader& reader) {
  const std::string codec = Talvo::Utility::getCodecName(parameters_, device_->driverInfo(), "Zelta");
  const std::string path = streamPath(codec);
  NLOG(*this, 0, " Init " << codec << " stream with url " << path);
  Talvo::asio::ConnectionInfo info;
  try {
    info = device_->cameraConnection();
  } catch (const Talvo::asio::ConnectionTextError&) {
    // Unreadable connection text: a connection failure like any other, reported and retried.
    throw boost::system::system_error(boost::system::error_code(10, Talvo::get_talvo_category()));
  }
  trimBuffer();
  buffer_->consume(buffer_->size());  // nothing of an earlier connection belongs to this one
  reader.restart();
  directReads_ = false;  // until a part shows how this camera sends them
  lowWatermark_ = 1;
  Clock::time_point deadline;
  for (bool mayAskAgain = true;; mayAskAgain = false) {
    Talvo::asio::connectHTTP(socket_, request_, path, info, Talvo::asio::DEFAULT_CONNECT_TIMEOUT);
    deadline = Clock::now() + kMaxPartTime;
    if (checkAnswerStatus(deadline, info, mayAskAgain)) break;
    // The camera asks for Digest: once more at once, answering its challenge (no outage).
    boost::system::error_code ignored;
    socket_.close(ignored);
    buffer_->consume(buffer_->size());
  }
  buffer_->consume(readStage(reader, deadline, kReadChunk).consume);  // the answer head
  restartRateWindow();  // the rate of a connection counts from its stream
}

bool VideoSource::receivePart(ServerPushReader& reader, const std::string& codec) {
  const Clock::time_point partDeadline = Clock::now() + kMaxPartTime;
  const ServerPushReader::Step head = readStage(reader, partDeadline, directReads_ ? kHeadReadChunk : kReadChunk);
  const std::optional<size_t> length = ServerPushReader::announcedLength(bufferBytes(), head.consume);
  buffer_->consume(head.consume);
  if (length && directReads_ && *length >= kKindBytes && *length <= kMaxDirectBody) {
    if (const std::optional<bool> delivered = receiveAnnouncedBody(reader, *length, codec, partDeadline))
      return *delivered;
  }
  const ServerPushReader::Step body = readStage(reader, partDeadline, kReadChunk);
  directReads_ = length && *length > 0 && body.pieces.picture.size == *length &&
                 body.consume == *length + ServerPushReader::kBodyTrailer;
  bool delivered = false;
  try {
    delivered = deliverPart(body.pieces, codec);
  } catch (...) {
    buffer_->consume(body.consume);
    throw;
  }
  buffer_->consume(body.consume);
  return delivered;
}

std::optional<bool> VideoSource::receiveAnnouncedBody(ServerPushReader& reader, size_t length, const std::string& codec,
                                                      Clock::time_point partDeadline) {
  if (!factory_ || !handler_) return std::nullopt;
  // The host buffer's key flag is chosen now, from the first bytes; a wrong guess costs a copy.
  while (buffer_->size() < std::min(length, kKindBytes)) readSome(partDeadline, kHeadReadChunk);
  const size_t received = std::min(buffer_->size(), length);
  const bool key = codec != "Zelta" || zeltaFrameKind(bufferBytes(), received) != ZeltaFrameKind::WithoutTables;
  HostFrame frame(factory_->AllocateCompressedBuffer(codec.c_str(), length, 0, key));
  if (!frame) return std::nullopt;
  uint8_t* body = frame->GetBuffer();
  std::memcpy(body, bufferBytes(), received);
  buffer_->consume(received);
  for (size_t have = received; have < length;) {
    setLowWatermark(std::min(length - have, kReadChunk));  // one wake-up for the rest of the picture
    have += readSomeInto(boost::asio::buffer(body + have, length - have), partDeadline);
  }
  setLowWatermark(1);
  while (buffer_->size() < ServerPushReader::kBodyTrailer) readSome(partDeadline, kHeadReadChunk);
  const std::optional<PartPieces> pieces =
      ServerPushReader::cutAnnouncedBody(body, length, bufferBytes(), buffer_->size());
  if (!pieces) {  // the announced length is not the stream's: the scan cuts this part
    putBack(body, length);
    directReads_ = false;
    return std::nullopt;
  }
  buffer_->consume(ServerPushReader::kBodyTrailer);
  reader.bodyCutElsewhere();
  if (pieces->picture.size != length) {  // audio follows the picture: it goes on as a copy
    directReads_ = false;
    return deliverPart(*pieces, codec);
  }
  return deliverPart(*pieces, codec, std::move(frame), key);
}

void VideoSource::putBack(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> rest(bufferBytes(), bufferBytes() + buffer_->size());
  buffer_->consume(rest.size());
  uint8_t* front = static_cast<uint8_t*>(buffer_->prepare(size + rest.size()).data());
  std::memcpy(front, data, size);
  if (!rest.empty()) std::memcpy(front + size, rest.data(), rest.size());
  buffer_->commit(size + rest.size());
}

const uint8_t* VideoSource::bufferBytes() const { return static_cast<const uint8_t*>(buffer_->data().data()); }

bool VideoSource::checkAnswerStatus(Clock::time_point deadline, const Talvo::asio::ConnectionInfo& info,
                                    bool mayAskAgain) {
  const auto begin = [&] { return static_cast<const char*>(buffer_->data().data()); };
  while (Talvo::http::detail::headEnd(begin(), begin() + buffer_->size()) == 0) {
    if (buffer_->size() > kMaxAnswerHead)
      throw boost::system::system_error(boost::system::error_code(256, Talvo::get_talvo_category()));
    readSome(deadline, kReadChunk);
  }
  Talvo::http::HttpResponse response;
  if (Talvo::http::parseStatusLine(begin(), begin() + buffer_->size(), response) == 0)
    throw boost::system::system_error(boost::system::error_code(256, Talvo::get_talvo_category()));
  if (response.status >= 200 && response.status <= 299) return true;
  if (response.status == 401 && mayAskAgain) {
    const size_t statusLine = Talvo::http::parseStatusLine(begin(), begin() + buffer_->size(), response);
    Talvo::http::parseHeaders(begin() + statusLine, begin() + buffer_->size(), response.headers);
    if (Talvo::http::acceptCameraChallenges(info, response.headers)) return false;
  }
  // The request path's code; a redirect, a success there, is no stream here: its status then.
  const int code = Talvo::http::translateResponseError(response);
  throw boost::system::system_error(
      boost::system::error_code(code != 0 ? code : response.status, Talvo::http::http_category()), "stream answer");
}

void VideoSource::trimBuffer() {
  if (buffer_->capacity() > kKeptBufferCapacity) {
    auto fresh = freshBuffer();
    const size_t kept = buffer_->size();
    if (kept > 0) std::memcpy(fresh->prepare(kept).data(), buffer_->data().data(), kept);
    fresh->commit(kept);
    buffer_ = std::move(fresh);
  }
  bufferCapacity_ = buffer_->capacity();
}

void VideoSource::setLowWatermark(size_t bytes) {
  if (bytes == lowWatermark_) return;
  boost::system::error_code ignored;  // without it the socket only wakes the reader more often
  socket_.set_option(boost::asio::socket_base::receive_low_watermark(static_cast<int>(bytes)), ignored);
  lowWatermark_ = bytes;
}

void VideoSource::readSome(Clock::time_point partDeadline, size_t chunk) {
  const size_t room = std::min(chunk, buffer_->max_size() - buffer_->size());
  buffer_->commit(readSomeInto(buffer_->prepare(room), partDeadline));
}

size_t VideoSource::readSomeInto(boost::asio::mutable_buffer target, Clock::time_point partDeadline) {
  bool timedOut = false;
  bool guardDone = false;
  boost::asio::steady_timer guard(io_, std::min<Clock::time_point>(Clock::now() + silenceGuard(), partDeadline));
  guard.async_wait([&](const boost::system::error_code& error) {
    guardDone = true;
    if (error == boost::asio::error::operation_aborted) return;
    boost::system::error_code ignored;
    if (lowWatermark_ > 1 && socket_.available(ignored) > 0) {
      setLowWatermark(1);  // bytes came, fewer than the reader waits for: a slow link, no silence
      return;
    }
    timedOut = true;
    socket_.close(ignored);  // ends the read
  });
  boost::system::error_code readError;
  size_t read = 0;
  bool readDone = false;
  socket_.async_read_some(target, [&](const boost::system::error_code& error, size_t n) {
    readError = error;
    read = n;
    readDone = true;
    guard.cancel();
  });
  waitingForCamera_ = true;
  io_.restart();
  while (!readDone || !guardDone) io_.run_one();  // both handlers use this frame
  waitingForCamera_ = false;
  if (timedOut) throw boost::system::system_error(boost::system::error_code(110, boost::system::system_category()));
  if (readError) throw boost::system::system_error(readError);
  return read;
}

ServerPushReader::Step VideoSource::readStage(ServerPushReader& reader, Clock::time_point partDeadline, size_t chunk) {
  assert(buffer_->max_size() >= ServerPushReader::kMaxPartSize && "a read must always find room");
  const auto feed = [&] { return reader.feed(bufferBytes(), buffer_->size()); };
  for (ServerPushReader::Step step = feed();; step = feed()) {
    if (step.status == ServerPushReader::Status::StageDone) return step;
    if (step.status == ServerPushReader::Status::TooLarge)
      throw boost::system::system_error(boost::asio::error::not_found, "part larger than the limit");
    readSome(partDeadline, chunk);
  }
}

bool VideoSource::deliverPart(const PartPieces& pieces, const std::string& codec, HostFrame filled, bool filledKey) {
  if (pieces.hasEvents)
    device_->processEventFrame(channel_,
                               std::string(reinterpret_cast<const char*>(pieces.events.data), pieces.events.size));
  const bool delivered = !pieces.picture.empty() && sendVideoFrame(pieces.picture, codec, std::move(filled), filledKey);
  if (!pieces.audio.empty()) device_->routeAudio(channel_, stream_, pieces.audio.data, pieces.audio.size);
  return delivered;
}

void VideoSource::warnCollapsed(const char* key, const std::string& text) {
  if (isLevelEnabled(2) && Talvo::Utility::LogCollapserMaker::logCollapser(collapseKey_ + key, kWarningCollapse))
    NLOG(*this, 2, text);
}

std::optional<bool> VideoSource::acceptPicture(const ByteRange& picture, const std::string& codec) {
  const PictureVerdict verdict = checkPicture(picture.data, picture.size, codec);
  if (verdict == PictureVerdict::Malformed) {
    warnCollapsed("malformed", " Skip incorrect frame");
    statistics_->onPartDropped();
    return std::nullopt;
  }
  if (verdict == PictureVerdict::Invalid) {
    warnCollapsed("invalid", " Warning: invalid \"" + codec + "\" frame received.");
    statistics_->onPartDropped();
    return std::nullopt;
  }
  return verdict == PictureVerdict::Key;
}

bool VideoSource::sendVideoFrame(const ByteRange& picture, const std::string& codec, HostFrame filled, bool filledKey) {
  NUVLET_DCHECK_CALLED_ON(onWorkerThread());
  assert(statistics_ && "grab creates the statistics before the first part");
  const std::optional<bool> key = acceptPicture(picture, codec);
  if (!key || !factory_) return false;
  HostFrame frame = std::move(filled);
  const bool holdsPicture =
      frame && filledKey == *key && frame->GetBuffer() == picture.data && frame->GetSize() == picture.size;
  if (!holdsPicture) {
    HostFrame copy(factory_->AllocateCompressedBuffer(codec.c_str(), picture.size, 0, *key));
    if (!copy) return false;
    std::memcpy(copy->GetBuffer(), picture.data, picture.size);  // before `frame`, which may hold it, goes
    frame = std::move(copy);
  }
  statistics_->onFrame(picture.size, *key);
  frame->SetTimeStamp(Talvo::Utility::timeStamp());
  if (handler_) handler_->MultimediaFrame(contract(), frame.release());
  return true;
}

// ---- settings -------------------------------------------------------------------------------

std::optional<LensPairs> VideoSource::readCurrentPairs(Talvo::http::HttpSession& session, const std::string& path,
                                                       const LensItems& items) {
  Talvo::http::HttpResponse response;
  std::string body;
  boost::system::error_code error;
  if (!session.get(path, response, body, error)) throw boost::system::system_error(error);
  if (!response.isSuccess()) return std::nullopt;
  return lensPairsIn(body, items);
}

std::string VideoSource::composePath(Talvo::http::HttpSession& session, const SettingsRequest& request) {
  NUVLET_DCHECK_CALLED_ON(onWorkerThread());
  const LensChoice lens = lensChoiceOf(false, parameters_.getPersistentParam("cameraLens"));
  std::optional<LensPairs> current;
  if (needsCurrentPairs(request, lens)) {
    try {
      current = readCurrentPairs(session, currentPairsPath(request), request.lensItems);
    } catch (const boost::system::system_error&) {
      // no answer: the values go to both lenses
    }
  }
  return requestPath(request, lensText(request.lensItems, lens, current));
}

void VideoSource::sendSettings(Talvo::http::HttpSession& session, const SettingsPlan& plan, int& result) {
  for (const SettingsRequest& request : plan.requests) {
    const std::string path = composePath(session, request);
    if (!path.empty()) sendSettingsRequest(session, path, result);
  }
  if (plan.failure) std::rethrow_exception(plan.failure);
}

void VideoSource::sendSettingsRequest(Talvo::http::HttpSession& session, const std::string& path, int& result) {
  Talvo::http::HttpResponse response;
  std::string body;
  boost::system::error_code error;
  const bool answered = session.get(path, response, body, error);
  if (answered && response.isSuccess()) return;
  NLOG(*this, 3, " Couldn't apply some video settings due to error in HTTP response.");
  if (result == 0) result = Talvo::http::translateResponseError(response);
}

int VideoSource::settingsFailure(const std::exception& error, const char* function) {
  if (const auto* system = dynamic_cast<const boost::system::system_error*>(&error)) {
    if (isLevelEnabled(3))
      log(3, __FILE__, __LINE__, function,
          std::string(" Couldn't apply video settings due to system_error - ") + system->what());
    return Talvo::Utility::translateSystemError(system->code());
  }
  if (dynamic_cast<const boost::bad_any_cast*>(&error)) {
    if (isLevelEnabled(3))
      log(3, __FILE__, __LINE__, function,
          std::string(" Couldn't apply video settings due to bad_any_cast error - ") + error.what());
    return 4;
  }
  if (isLevelEnabled(3))
    log(3, __FILE__, __LINE__, function,
        std::string(" Couldn't apply video settings due to unexpected exception - ") + error.what());
  return 1;
}

Talvo::IAsyncActionHandler* VideoSource::finishSet(Talvo::IAsyncActionHandler* handler, int result) {
  if (handler) handler->Finished(contract(), result);
  return handler;
}

void VideoSource::doApplySettings() {
  NUVLET_DCHECK_CALLED_ON(onWorkerThread());
  ParamsMap set;
  Talvo::IAsyncActionHandler* handler = nullptr;
  if (!parameters_.popParameters(set, handler)) return;
  parameters_.updateParams(set);
  if (processBlockingConfiguration(set, handler)) return;
  int result = 0;
  try {
    const boost::any codec = parameters_.getPersistentParam("codec");
    if (!codec.empty()) boost::any_cast<std::string>(codec);  // a codec that is no text is a bad set
    CancellableSession session(*this);
    sendSettings(session.get(), classicSettingsPlan(set), result);
  } catch (const std::exception& e) {
    result = settingsFailure(e, "doApplySettings");
  }
  finishSet(handler, result);
}

}  // namespace Vantrel
