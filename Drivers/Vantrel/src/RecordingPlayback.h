// Vantrel::RecordingPlayback: plays the camera's stored event sequences to the host. A seek
// fetches the single picture stored at a second; a play streams the sequence at the position
// and then, by itself, each following sequence, until the host pauses (speed 0), the camera has
// nothing more or a request fails. Each answer is read by an HttpConnector.
//
// Ownership: the host owns the playback until Destroy; the device outlives it. The handlers the
// host passes stay valid until they were answered (the playback handler until Terminate).
// Threads: host calls only post work to the playback's own io_context, run by its worker thread;
// every request, every frame and every report runs there. Destroy may come from any thread,
// the worker's own reports included. The flags the host thread and the worker share are atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/system/error_code.hpp>

#include "HttpConnector.h"
#include "host/GDRV.h"
#include "host/Nuvlet/Http.h"
#include "host/Nuvlet/Logging.h"

namespace Vantrel {

class Device;

class RecordingPlayback : public Talvo::GDRV::IRecordingPlayback, public Talvo::LoggerOwner, private PlaybackSink {
 public:
  // The time a stream request may take at most (a sequence as long as the camera records).
  static constexpr int kStreamTimeoutSeconds = 3600;
  static constexpr int kSeekTimeoutSeconds = 30;
  // A camera that sends no byte for this long has stalled: the request ends with a failure, as
  // on the live stream.
  static constexpr int kSilenceMilliseconds = 5000;

  // Starts the worker. `tracks` is read here only (null: video and audio).
  RecordingPlayback(std::string recordingId, Device* device, Talvo::MFF::IMultimediaFrameFactory* factory,
                    Talvo::GDRV::Storage::ITrackIdEnumerator* tracks, Talvo::GDRV::IRecordingPlaybackHandler* handler);
  // Stops the io_context and joins the worker (unless it is the caller).
  ~RecordingPlayback() override;

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;

  void Destroy() override;
  void Terminate() override;
  // Speed 0 pauses; other speeds play at normal speed.
  void Play(Talvo::IAsyncActionHandler* handler, double speed) override;
  void Seek(uint64_t milliseconds, Talvo::IAsyncActionHandler* handler) override;
  // Not offered by the camera: answered at once with 8.
  void Step(Talvo::IAsyncActionHandler* handler, bool forward) override;

  // Tests: the cap of one block of the camera's answers (HttpConnector::kMaxBlockSize).
  void setMaxBlockSize(size_t size) { maxBlockSize_ = size; }
  // Tests: the silence guard (kSilenceMilliseconds).
  void setSilenceGuard(int milliseconds) { silenceMilliseconds_ = milliseconds; }

 private:
  void doSeek(uint64_t milliseconds, Talvo::IAsyncActionHandler* handler);
  void doPlay(Talvo::IAsyncActionHandler* handler, double speed);
  void doTerminate();
  // Worker: starts a request whose end reaches handleGrab; `handler` is answered then.
  void startRequest(HttpConnector::Kind kind, const std::string& path, Talvo::IAsyncActionHandler* handler);
  void handleGrab(const boost::system::error_code& error);
  void endRequest();
  void report(Talvo::IAsyncActionHandler* handler, int code);
  bool running() const { return request_ != nullptr; }

  // PlaybackSink (worker).
  void videoFrame(const uint8_t* data, size_t size, bool key, uint64_t timeStamp) override;
  void audioFrame(const uint8_t* data, size_t size, const PlaybackAudioFormat& format, uint64_t timeStamp) override;

  const std::string recordingId_;
  Device* device_;
  Talvo::MFF::IMultimediaFrameFactory* factory_;
  Talvo::GDRV::IRecordingPlaybackHandler* handler_;  // worker; null after Terminate
  bool video_ = true;
  bool audio_ = true;
  std::atomic<size_t> maxBlockSize_{HttpConnector::kMaxBlockSize};
  std::atomic<int> silenceMilliseconds_{kSilenceMilliseconds};

  // Declared before what the worker owns, so that it is destroyed after them.
  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  std::atomic<bool> seeking_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> deleteOnExit_{false};
  // Worker only.
  Talvo::http::AsyncOperationPtr request_;
  std::unique_ptr<HttpConnector> connector_;
  Talvo::IAsyncActionHandler* requestHandler_ = nullptr;
  Talvo::IAsyncActionHandler* stopHandler_ = nullptr;
  uint64_t position_ = 0;  // camera seconds where the next play starts; 0 none yet
  std::thread worker_;
};

}  // namespace Vantrel
