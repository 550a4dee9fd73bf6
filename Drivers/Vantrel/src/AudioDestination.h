// Vantrel::AudioDestination: the camera's loudspeaker. A call opens a TCP connection to the
// camera and sends one POST to "/control/ddspeaker" whose body never ends; every audio buffer the
// host hands over is then written onto that connection as it is, in order, each write guarded by
// a time-out. Hanging up closes the connection. The loudspeaker level is a camera setting of its
// own ("section=audio&SPEAKERLEVEL=").
//
// The host may send faster than the camera reads: the buffers waiting to be written are capped at
// about two seconds of audio (at the bit rate the host's buffers name); beyond it the oldest
// waiting ones are dropped, counted, and the count is logged once when the call ends.
//
// Threads: Call, HangUp, SendAudio, ApplySettings and Destroy on host threads; the socket, the
// timer, the settings request and every host notification run on the object's own worker thread
// (its private io_context). SendAudio only touches the queue under its mutex; no lock is held
// while the host is called. Host notifications: Started = the call is established, Stopped = the
// call ended (time-out, write error, failed connect, hang-up; a hang-up with no call up is
// answered with it too), Failed(code) = the call could not be set up (10 unreadable connection
// text, 4 request not buildable, the translated error of the request's write or of the camera's
// answer).
// Ownership: the host owns the object until Destroy. SendAudio takes the host's buffer: it is
// written from the host's own bytes and ended with its Destroy exactly once, on whichever thread
// lets go of it last (never under the mutex): once written, when the cap drops it, when no call
// is up, when the call ends, or at Destroy. Destroy from the worker (inside a notification)
// leaves the deletion to the worker as it ends.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/thread/thread.hpp>

#include "host/GDRV.h"
#include "host/Nuvlet/Http.h"
#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/NameLookup.h"
#include "host/Nuvlet/SimpleAdjuster.h"

namespace Vantrel {

class Device;

class AudioDestination : public Talvo::GDRV::IAudioDestination,
                         public Talvo::Utility::SimpleAdjuster,
                         private Talvo::LoggerOwner {
 public:
  AudioDestination(Talvo::GDRV::IAudioDestinationHandler* handler, uint32_t channel, Device* device);
  ~AudioDestination() override;

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;

  void Destroy() override;
  uint32_t GetChannel() override { return channel_; }
  void Call() override;
  void HangUp() override;
  void SendAudio(Talvo::MFF::IAudioBuffer* buffer) override;
  // Queues the set; the worker sends it to the camera.
  void ApplySettings(Talvo::IAsyncActionHandler* handler) override;

  Talvo::IContract* contract() { return static_cast<Talvo::GDRV::IAudioDestination*>(this); }

  // The guard of the connect and of each write (DEFAULT_CONNECT_TIMEOUT); tests shorten it.
  // Before Call.
  void setWriteTimeout(boost::posix_time::time_duration timeout) { writeTimeout_ = timeout; }
  // Buffers dropped by the cap since creation. Any thread.
  uint64_t droppedBuffers() const { return droppedTotal_.load(); }

  // The waiting buffers hold at most this long of audio (at their bit rate, 64 kbit/s if none).
  static constexpr int kQueuedMilliseconds = 2000;
  static constexpr int kDefaultBitRate = 64000;
  // The camera's answer head, when it answers a call, is read into at most this many bytes.
  static constexpr size_t kMaxAnswerHead = 16 * 1024;

 private:
  enum class Phase { Idle, Connecting, Established };
  // A host buffer; the last holder ends it (a write in progress holds its own).
  using HostBuffer = std::shared_ptr<Talvo::MFF::IAudioBuffer>;
  using Released = std::vector<HostBuffer>;  // let go of after the mutex is released
  static HostBuffer take(Talvo::MFF::IAudioBuffer* buffer);

  void workerMain();
  // ---- worker thread ----
  void startCall();
  void hangUp();
  void connectTo(const boost::asio::ip::tcp::endpoint& endpoint);
  void handleConnect(uint64_t call, const boost::system::error_code& error);
  void handleRequestWritten(uint64_t call, const boost::system::error_code& error);
  void handleAnswerHead(uint64_t call, const boost::system::error_code& error);
  void establish();
  void writeNext();
  void handleWritePacket(uint64_t call, const boost::system::error_code& error);
  void armGuard(uint64_t call);
  void handleTimeout(uint64_t call, const boost::system::error_code& error);
  // Closes the connection and forgets the queue; `notify`: tell the host the call ended.
  void endCall(bool notify);
  // The call could not be set up: closes it and reports `code` with Failed.
  void failCall(int code);
  void doApplySettings();
  void finishSettings(Talvo::IAsyncActionHandler* handler, const boost::system::error_code& error,
                      const Talvo::http::HttpResponse& response);
  // ---- any thread, mutex_ held ----
  void capQueue(size_t capBytes, Released& dropped);

  std::string speakerRequest(const Talvo::asio::ConnectionInfo& info) const;
  bool notifying() const { return handler_ != nullptr && !destroying_.load(); }

  uint32_t channel_;
  Talvo::GDRV::IAudioDestinationHandler* handler_;
  Device* device_;
  bool responseOnCall_ = false;
  Talvo::Utility::ParamsMap initialParameters_;
  boost::posix_time::time_duration writeTimeout_;

  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  boost::asio::ip::tcp::socket socket_{io_};
  boost::asio::deadline_timer timer_{io_};
  Talvo::asio::NameLookup lookup_{io_};
  boost::asio::streambuf answer_{kMaxAnswerHead};
  std::string requestText_;                         // kept while it is written
  uint64_t call_ = 0;                               // worker: completions of older calls are ignored
  Talvo::http::AsyncOperationPtr settingsRequest_;  // worker

  mutable std::mutex mutex_;  // guards the members below; never held while calling the host
  Phase phase_ = Phase::Idle;
  std::deque<HostBuffer> queue_;  // the front is being written while writing_
  size_t queuedBytes_ = 0;
  bool writing_ = false;
  uint64_t droppedThisCall_ = 0;
  std::atomic<uint64_t> droppedTotal_{0};

  std::atomic<bool> destroying_{false};
  bool deleteOnExit_ = false;  // set by a Destroy on the worker itself
  boost::thread worker_;
};

}  // namespace Vantrel
