#include "VideoSource.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <sstream>

#include <boost/asio/deadline_timer.hpp>
#include <boost/format.hpp>

#include "Device.h"
#include "FrameStatisticReporter.h"
#include "Nuvlet/include/Contract.h"
#include "PictureCheck.h"
#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/Time.h"

namespace Vantrel {

using Talvo::Utility::anyOr;
using Talvo::Utility::ParamsMap;

namespace {

// Pause between a broken connection and the next attempt.
const auto kReconnectPause = std::chrono::milliseconds(500);
// The most one read takes from the socket.
const size_t kReadChunk = 256 * 1024;

}  // namespace

VideoSource::VideoSource(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t stream, uint32_t channel,
                         Talvo::MFF::IMultimediaFrameFactory* factory, Device* device)
    : Talvo::Utility::SimpleAdjuster(static_cast<Talvo::GDRV::IVideoSource*>(this)),
      Talvo::LoggerOwner(device->rawLogger(), (boost::format("vs %1%.%2%") % channel % stream).str()),
      device_(device),
      channel_(channel),
      stream_(stream),
      deviceData_(device->deviceData()),
      handler_(handler),
      factory_(factory) {
  const auto& channels = device->modelEntry().videoChannels;
  if (channel < channels.size()) {
    const auto* fps = dynamic_cast<const Talvo::GDRV::PropertyInt*>(
        Talvo::GDRV::findProperty(channels[channel].parameters, "useMaxFpsAsCameraSetting"));
    useCameraFps_ = fps && fps->value > 0;
  }
  Talvo::Utility::videoSourceInitializeParams(parameters_, channel, stream, device->modelEntry(), device->driverInfo(),
                                              initialParameters_);
}

VideoSource::~VideoSource() {
  stop_ = true;
  stopChanged_.notify_all();
  if (worker_.joinable() && worker_.get_id() != boost::this_thread::get_id()) worker_.join();
}

void* VideoSource::QueryContract(const char* typeName) {
  using Talvo::Utility::castTo;
  using Talvo::Utility::Path;
  return castTo<Path<Talvo::IAsyncAdjuster>, Path<Talvo::IContract, Talvo::GDRV::IVideoSource>,
                Path<Talvo::GDRV::IVideoSource>, Path<Talvo::GDRV::IDeviceChannel>>(this, typeName);
}

void VideoSource::Destroy() {
  Stop();
  delete this;
}

void VideoSource::Start() {
  std::lock_guard<std::mutex> lock(workerMutex_);
  if (worker_.joinable()) return;
  stop_ = false;
  worker_ = boost::thread([this] { grab(); });
}

void VideoSource::Stop() {
  std::lock_guard<std::mutex> lock(workerMutex_);
  {
    std::lock_guard<std::mutex> stopLock(stopMutex_);
    stop_ = true;
  }
  stopChanged_.notify_all();
  try {
    if (worker_.joinable()) worker_.join();
  } catch (const std::exception& e) {
    NLOG(*this, 3, " std::exception:" << e.what());
  }
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
  device_->registerEventChannel(channel_);
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
  if (statistics_) NLOG(*this, 1, " All " << statisticsLine());
  const std::unique_ptr<FrameStatisticReporter> statistics = std::move(statistics_);
  NLOG(*this, 0, " Stopped");
  workerThread_.reset();
  // Stopped queues behind the channel's statistics lines: nothing of the channel follows it.
  statistics->reportStopAfterLastLine();
}

void VideoSource::grabFrame(const std::string& codec) {
  NUVLET_DCHECK_CALLED_ON(onWorkerThread());
  boost::asio::ip::tcp::socket socket(io_);
  boost::asio::streambuf buffer(PartReader::kMaxPartSize);
  PartReader reader;
  bool errorReported = false;
  while (!stop_) {
    if (parameters_.hasPending()) {
      NLOG(*this, 1, " Reconect, as parameters was changed");
      NLOG(*this, 1, " " << statisticsLine());
      return;
    }
    device_->applyAudioSettings(channel_);
    try {
      if (!socket.is_open()) {
        statistics_->onConnectionStart();
        statistics_->resetFrameCounter(frameReportInterval(), 90);
        init(socket, buffer, reader);
        errorReported = false;
      }
      buffer.consume(readStage(socket, buffer, reader).consume);  // the part head is not needed
      const PartReader::Step body = readStage(socket, buffer, reader);
      try {
        deliverPart(body.pieces, codec);
      } catch (...) {
        buffer.consume(body.consume);
        throw;
      }
      buffer.consume(body.consume);
    } catch (const boost::system::system_error& e) {
      NLOG(*this, 3,
           " Error stream receiving: " << e.code().category().name() << ":" << e.code().value() << "." << e.what());
      NLOG(*this, 1, " " << statisticsLine());
      // A read that ends because the host stopped the channel is no outage.
      if (!errorReported && !stop_ && handler_)
        handler_->Failed(contract(), Talvo::Utility::translateSystemError(e.code()));
      errorReported = true;
      boost::system::error_code ignored;
      socket.close(ignored);
      waitWhileRunning(kReconnectPause);
    } catch (const std::exception& e) {
      NLOG(*this, 3, " std::exception:" << e.what());  // the stream goes on
    }
  }
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

void VideoSource::init(boost::asio::ip::tcp::socket& socket, boost::asio::streambuf& buffer, PartReader& reader) {
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
  buffer.consume(buffer.size());  // nothing of an earlier connection belongs to this one
  reader.restart();
  Talvo::asio::connectHTTP(socket, buffer, path, info, Talvo::asio::DEFAULT_CONNECT_TIMEOUT);
  buffer.consume(readStage(socket, buffer, reader).consume);  // the answer head
}

PartReader::Step VideoSource::readStage(boost::asio::ip::tcp::socket& socket, boost::asio::streambuf& buffer,
                                        PartReader& reader) {
  assert(buffer.max_size() >= PartReader::kMaxPartSize && "a read must always find room");
  const auto feed = [&] { return reader.feed(static_cast<const uint8_t*>(buffer.data().data()), buffer.size()); };
  PartReader::Step step = feed();
  if (step.status == PartReader::Status::StageDone) return step;  // already read with the previous part

  // The guard: a deadline for the whole stage. Firing closes the socket, which ends the read.
  bool timedOut = false;
  bool guardDone = false;
  boost::asio::deadline_timer guard(io_, Talvo::asio::DEFAULT_CONNECT_TIMEOUT);
  guard.async_wait([&](const boost::system::error_code& error) {
    guardDone = true;
    if (error == boost::asio::error::operation_aborted) return;
    timedOut = true;
    socket.close();  // a failure to close is raised
  });
  auto settleGuard = [&] {  // its handler must have run before this frame goes
    guard.cancel();
    while (!guardDone) io_.run_one();
  };
  io_.restart();
  for (;;) {
    if (step.status == PartReader::Status::TooLarge) {
      settleGuard();
      throw boost::system::system_error(boost::asio::error::not_found, "part larger than the limit");
    }
    boost::system::error_code readError;
    size_t read = 0;
    bool readDone = false;
    socket.async_read_some(buffer.prepare(std::min(kReadChunk, buffer.max_size() - buffer.size())),
                           [&](const boost::system::error_code& error, size_t n) {
                             readError = error;
                             read = n;
                             readDone = true;
                           });
    while (!readDone) io_.run_one();
    buffer.commit(read);
    if (timedOut || readError) {
      settleGuard();
      if (timedOut) throw boost::system::system_error(boost::system::error_code(110, boost::system::system_category()));
      throw boost::system::system_error(readError);
    }
    step = feed();
    if (step.status == PartReader::Status::StageDone) {
      settleGuard();
      return step;
    }
  }
}

void VideoSource::deliverPart(const PartPieces& pieces, const std::string& codec) {
  if (pieces.hasEvents)
    device_->processEventFrame(channel_,
                               std::string(reinterpret_cast<const char*>(pieces.events.data), pieces.events.size));
  if (!pieces.picture.empty()) sendVideoFrame(pieces.picture, codec);
  if (!pieces.audio.empty()) device_->routeAudio(channel_, pieces.audio.data, pieces.audio.size);
}

void VideoSource::sendVideoFrame(const ByteRange& picture, const std::string& codec) {
  NUVLET_DCHECK_CALLED_ON(onWorkerThread());
  assert(statistics_ && "grab creates the statistics before the first part");
  const PictureVerdict verdict = checkPicture(picture.data, picture.size, codec);
  if (verdict == PictureVerdict::Malformed) {
    NLOG(*this, 2, " Skip incorrect frame");
    return;
  }
  if (verdict == PictureVerdict::Invalid) {
    NLOG(*this, 2, " Warning: invalid \"" << codec << "\" frame received.");
    return;
  }
  const bool key = verdict == PictureVerdict::Key;
  if (!factory_) return;
  Talvo::MFF::ICompressedBuffer* buffer = factory_->AllocateCompressedBuffer(codec.c_str(), picture.size, 0, key);
  if (!buffer) return;
  statistics_->onFrame(picture.size, key);
  std::memcpy(buffer->GetBuffer(), picture.data, picture.size);
  buffer->SetTimeStamp(Talvo::Utility::timeStamp());
  if (handler_)
    handler_->MultimediaFrame(contract(), buffer);
  else
    buffer->Destroy();
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
    Talvo::http::HttpSession session(device_->cameraConnection(), logger());
    sendSettings(session, classicSettingsPlan(set), result);
  } catch (const std::exception& e) {
    result = settingsFailure(e, "doApplySettings");
  }
  finishSet(handler, result);
}

}  // namespace Vantrel
