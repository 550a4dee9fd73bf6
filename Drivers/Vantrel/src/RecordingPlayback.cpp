#include "RecordingPlayback.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include <boost/asio/post.hpp>

#include "Device.h"
#include "host/Nuvlet/HttpStream.h"
#include "Nuvlet/include/AudioSendingFilter.h"
#include "Nuvlet/include/Contract.h"
#include "Nuvlet/include/StorageRecords.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/Time.h"

namespace Vantrel {

namespace {

const char* const kEventPicture = "/control/event.jpg?output=jpeg";
const char* const kEventStream = "/control/event.jpg?output=zlg";

bool isEndOfStream(const boost::system::error_code& error) { return error == boost::asio::error::eof; }

std::string errorText(const boost::system::error_code& error) {
  return std::to_string(error.value()) + "." + error.message();
}

// Bits per second of the samples, in 64 bits: a camera's rate times the unit size may not fit the
// host's int, which then gets its largest value.
int32_t bitRateOf(const PlaybackAudioFormat& format) {
  const int64_t bits = static_cast<int64_t>(format.sampleRate) * 8 * static_cast<int64_t>(format.unitSize);
  return static_cast<int32_t>(std::min<int64_t>(bits, std::numeric_limits<int32_t>::max()));
}

}  // namespace

RecordingPlayback::RecordingPlayback(std::string recordingId, Device* device,
                                     Talvo::MFF::IMultimediaFrameFactory* factory,
                                     Talvo::GDRV::Storage::ITrackIdEnumerator* tracks,
                                     Talvo::GDRV::IRecordingPlaybackHandler* handler)
    : Talvo::LoggerOwner(device->rawLogger(), ""),
      recordingId_(std::move(recordingId)),
      device_(device),
      factory_(factory),
      handler_(handler),
      work_(io_.get_executor()) {
  std::string trackList;
  if (tracks) {
    video_ = audio_ = false;
    tracks->Reset();
    while (tracks->MoveNext()) {
      auto* track = Talvo::contract_cast<Talvo::GDRV::Storage::ITrackInfo>(tracks->Current());
      const std::string id = track && track->GetId() ? track->GetId() : "";
      video_ = video_ || id == Talvo::Utility::VIDEO_TRACK_ID;
      audio_ = audio_ || id == Talvo::Utility::AUDIO_TRACK_ID;
      trackList += " " + id;
    }
  } else {
    trackList = std::string(" ") + Talvo::Utility::VIDEO_TRACK_ID + " " + Talvo::Utility::AUDIO_TRACK_ID;
  }
  NLOG(*this, 0,
       " Creating storage '" << recordingId_ << "', for model '" << device_->modelName() << ", tracks:" << trackList);
  worker_ = std::thread([this] {
    io_.run();
    if (deleteOnExit_.load()) delete this;
  });
}

RecordingPlayback::~RecordingPlayback() {
  try {
    work_.reset();
    io_.stop();
    if (worker_.joinable()) worker_.join();
  } catch (const std::exception& e) {
    if (isLevelEnabled(3))
      log(3, __FILE__, __LINE__, "~RecordingPlayback", std::string(" std::exception: ") + e.what());
  }
  request_.reset();
  connector_.reset();
}

void* RecordingPlayback::QueryContract(const char* typeName) {
  using namespace Talvo::Utility;
  return castTo<Path<Talvo::IContract>, Path<Talvo::IDestroyable>, Path<Talvo::GDRV::IRecordingPlayback>>(this,
                                                                                                          typeName);
}

void RecordingPlayback::Destroy() {
  if (std::this_thread::get_id() == worker_.get_id()) {
    // From one of the playback's own reports: the worker deletes the playback as it ends.
    deleteOnExit_.store(true);
    worker_.detach();
    io_.stop();
    return;
  }
  delete this;
}

void RecordingPlayback::Terminate() {
  boost::asio::post(io_, [this] { doTerminate(); });
}

void RecordingPlayback::Play(Talvo::IAsyncActionHandler* handler, double speed) {
  boost::asio::post(io_, [this, handler, speed] { doPlay(handler, speed); });
}

void RecordingPlayback::Seek(uint64_t milliseconds, Talvo::IAsyncActionHandler* handler) {
  boost::asio::post(io_, [this, milliseconds, handler] { doSeek(milliseconds, handler); });
}

void RecordingPlayback::Step(Talvo::IAsyncActionHandler* handler, bool) { report(handler, 8); }

void RecordingPlayback::doSeek(uint64_t milliseconds, Talvo::IAsyncActionHandler* handler) {
  if (terminated_.load()) return report(handler, 12);
  if (running()) {
    NLOG(*this, 3, " not supported seek during play");
    return report(handler, 9);
  }
  NLOG(*this, 0, " Seek to " << Talvo::Utility::timestampToString(milliseconds));
  position_ = milliseconds / 1000 == 0 ? 1 : milliseconds / 1000;
  const std::string path = std::string(kEventPicture) + "&searchbytime_start=" + std::to_string(position_);
  NLOG(*this, 0, " Seek url='" << path << "'");
  seeking_.store(true);
  startRequest(HttpConnector::Kind::SingleImage, path, handler);
}

void RecordingPlayback::doPlay(Talvo::IAsyncActionHandler* handler, double speed) {
  if (terminated_.load()) return report(handler, 12);
  NLOG(*this, 0, " Speed = " << speed);
  if (speed == 0) {
    if (!running()) return report(handler, 0);
    if (stopHandler_) report(stopHandler_, 0);  // an earlier pause is answered by this one's end
    stopRequested_.store(true);
    stopHandler_ = handler;
    request_->cancel();
    return;
  }
  if (speed != 1) NLOG(*this, 0, " not supported speed > 1");
  if (running()) {
    if (seeking_.load()) {
      NLOG(*this, 3, " not supported second play call or play before seek is fully finished");
      return report(handler, 9);
    }
    NLOG(*this, 0, " Playback already in progress");
    return report(handler, 0);
  }
  if (position_ == 0) position_ = 1;
  stopRequested_.store(false);
  const std::string path = std::string(kEventStream) + "&searchbytime_start=" + std::to_string(position_);
  NLOG(*this, 0, " Play url='" << path << "'");
  startRequest(HttpConnector::Kind::Stream, path, nullptr);
  report(handler, 0);
}

void RecordingPlayback::doTerminate() {
  bool already = false;
  if (!terminated_.compare_exchange_strong(already, true)) {
    NLOG(*this, 3, " Already terminated");
    return;
  }
  if (request_) request_->cancel();
  handler_ = nullptr;
}

void RecordingPlayback::startRequest(HttpConnector::Kind kind, const std::string& path,
                                     Talvo::IAsyncActionHandler* handler) {
  PlaybackSink* sink = this;
  connector_ = std::make_unique<HttpConnector>(kind, *this, sink, video_, audio_, maxBlockSize_.load());
  requestHandler_ = handler;
  Talvo::asio::ConnectionInfo info;
  try {
    info = device_->cameraConnection();
  } catch (const std::exception&) {
    // The request ends at once, as a request that cannot be built.
    info = Talvo::asio::ConnectionInfo();
  }
  HttpConnector* connector = connector_.get();
  const int seconds = kind == HttpConnector::Kind::Stream ? kStreamTimeoutSeconds : kSeekTimeoutSeconds;
  Talvo::http::asyncGetStream(
      info, path, io_, seconds, silenceMilliseconds_.load(),
      [connector](const uint8_t* data, size_t size) { return connector->process(data, size); },
      [this](const boost::system::error_code& error, const Talvo::http::Body&, const Talvo::http::HttpResponse&) {
        handleGrab(error);
      },
      request_, device_->rawLogger());
}

void RecordingPlayback::endRequest() {
  request_.reset();
  connector_.reset();
}

void RecordingPlayback::handleGrab(const boost::system::error_code& error) {
  Talvo::IAsyncActionHandler* handler = requestHandler_;
  requestHandler_ = nullptr;
  if (terminated_.load()) {
    endRequest();
    seeking_.store(false);
    report(handler, 12);
    report(std::exchange(stopHandler_, nullptr), 12);
    return;
  }
  if (error && !isEndOfStream(error)) NLOG(*this, 3, " Playback error: " << errorText(error) << ".");
  const int64_t event = connector_->eventNumber();
  if (connector_->kind() == HttpConnector::Kind::SingleImage) {
    NLOG(*this, 0, " Image '" << event << "' is received");
    endRequest();
    seeking_.store(false);
    report(std::exchange(stopHandler_, nullptr), 0);  // a pause during the seek
    return report(handler, isEndOfStream(error) ? 0 : Talvo::Utility::translateSystemError(error));
  }
  if (event < 0) {
    NLOG(*this, 0, " No stream was received");
  } else {
    NLOG(*this, 0,
         " Video fragment '" << event << "' is finished\n"
                             << connector_->statistics(Talvo::Utility::timeStamp()));
  }
  if (stopRequested_.load()) {
    NLOG(*this, 0, " Playback was stopped");
    // The next play goes on where this one was.
    if (connector_->timeStamp() / 1000 != 0) position_ = connector_->timeStamp() / 1000;
    endRequest();
    return report(std::exchange(stopHandler_, nullptr), 0);
  }
  if (isEndOfStream(error) && event >= 0) {
    const std::string path = std::string(kEventStream) + "&sequence=" + std::to_string(event) + "&offset=1";
    NLOG(*this, 0, " Next url='" << path << "'");
    return startRequest(HttpConnector::Kind::Stream, path, nullptr);
  }
  NLOG(*this, 0, " Stop playing, because of " << errorText(error));
  endRequest();
  const int code = Talvo::Utility::translateSystemError(error);
  if (!handler_) return;
  // The camera has nothing more to play: the play is finished; anything else failed it.
  if (isEndOfStream(error))
    handler_->Finished(this, code);
  else
    handler_->Failed(this, code);
}

void RecordingPlayback::report(Talvo::IAsyncActionHandler* handler, int code) {
  if (handler) handler->Finished(static_cast<Talvo::GDRV::IRecordingPlayback*>(this), code);
}

void RecordingPlayback::videoFrame(const uint8_t* data, size_t size, bool key, uint64_t timeStamp) {
  if (!handler_ || !factory_) return;
  Talvo::MFF::ICompressedBuffer* buffer = factory_->AllocateCompressedBuffer(connector_->codec(), size, 0, key);
  if (!buffer) return;
  std::memcpy(buffer->GetBuffer(), data, size);
  buffer->SetTimeStamp(timeStamp);
  handler_->MultimediaFrame(this, Talvo::Utility::VIDEO_TRACK_ID, buffer);
}

void RecordingPlayback::audioFrame(const uint8_t* data, size_t size, const PlaybackAudioFormat& format,
                                   uint64_t timeStamp) {
  if (!handler_ || !factory_) return;
  Talvo::Utility::AudioBufferG7xxSendingFilter sender(factory_, format.encoding);
  sender.setBitRate(bitRateOf(format));
  sender.setConvertLEToBE(format.littleEndian);
  sender.setTimeStamp(timeStamp);
  Talvo::MFF::IAudioBuffer* buffer = sender.allocate(size);
  if (!buffer) return;
  sender.copyPayload(data, size, buffer->GetBuffer());
  buffer->SetTimeStamp(timeStamp);
  handler_->MultimediaFrame(this, Talvo::Utility::AUDIO_TRACK_ID, buffer);
}

}  // namespace Vantrel
